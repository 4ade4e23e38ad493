#include "GatewayCommands.h"

#include <algorithm>
#include <cstdio>

#include "TextRules.h"

namespace tidewell::webfolder {
namespace {

std::string CompanyKeyName(std::size_t index) {
    char name[24];
    std::snprintf(name, sizeof name, "C%03zu", index);
    return name;
}

}  // namespace

Credentials GatewayCommands::CredentialsOf(const FormFields& form, std::string_view address) {
    return {form.Bytes("userid").value_or(""), form.Bytes("password").value_or(""),
            std::string(address)};
}

std::optional<Reply> GatewayCommands::CheckCommand(const FormFields& form,
                                                   RequestNote& note) const {
    const std::string command = LowerAscii(form.Text("cmd"));
    note.Add("cmd", form.Bytes("cmd").value_or("").substr(0, 64));
    static constexpr std::string_view kCommands[] = {"userprofile", "diskusage", "companylist",
                                                     "companyinfo", "deletecompany"};
    if (std::find(std::begin(kCommands), std::end(kCommands), command) == std::end(kCommands)) {
        return Reply(ReplyStatus::BadRequest, "알 수 없는 명령입니다.");
    }
    return std::nullopt;
}

Reply GatewayCommands::Run(const Account& account, const FormFields& form, std::int64_t now) const {
    const std::string command = LowerAscii(form.Text("cmd"));
    if (command == "userprofile") return UserProfile(account, now);
    if (command == "diskusage") return DiskUsage(account);
    if (command == "companylist") return CompanyList(account);
    if (command == "companyinfo") return CompanyInfo(account, form);
    return DeleteCompany(account, form);
}

std::variant<Reply, OpenedArchive> GatewayCommands::Download(const Account& account,
                                                             const FormFields& form,
                                                             RequestNote& note) const {
    const std::string key = form.Text("companykey");
    if (key.empty()) return Reply(ReplyStatus::BadRequest, "사업장키가 없습니다.");
    if (!IsCompanyKey(key) || !archives_.FindCompany(account.id, key)) {
        return Reply(ReplyStatus::UnknownCompany);
    }
    auto archive = archives_.OpenLatest(account.id, key);
    if (!archive) return Reply(ReplyStatus::NoArchive);
    note.Add("file", archive->name);
    return std::move(*archive);
}

Reply GatewayCommands::UserProfile(const Account& account, std::int64_t now) const {
    Reply reply(ReplyStatus::Ok);
    reply.Add("UserID", account.userId)
        .Add("UserName", account.name)
        .AddNumber("Created", account.created)
        .AddNumber("LastModified", account.lastModified)
        .AddNumber("ExpireAt", account.expireAt)
        .AddNumber("RemainingDays", RemainingDays(account.expireAt, now))
        .AddNumber("DiskQuota", account.quota);
    return reply;
}

Reply GatewayCommands::DiskUsage(const Account& account) const {
    Reply reply(ReplyStatus::Ok);
    reply.AddNumber("DiskUsed", archives_.DiskUsed(account.id))
        .AddNumber("DiskQuota", account.quota);
    return reply;
}

Reply GatewayCommands::CompanyList(const Account& account) const {
    const auto keys = archives_.CompanyKeys(account.id);
    Reply reply(ReplyStatus::Ok);
    reply.AddNumber("CompanyCount", static_cast<std::int64_t>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i) reply.Add(CompanyKeyName(i), keys[i]);
    return reply;
}

Reply GatewayCommands::CompanyInfo(const Account& account, const FormFields& form) const {
    const std::string key = form.Text("companykey");
    if (key.empty()) return Reply(ReplyStatus::BadRequest, "사업장키가 없습니다.");
    const auto company = IsCompanyKey(key) ? archives_.FindCompany(account.id, key) : std::nullopt;
    if (!company) return Reply(ReplyStatus::UnknownCompany);
    Reply reply(ReplyStatus::Ok);
    reply.Add("CompanyKey", company->key)
        .Add("CompanyName", company->name)
        .AddNumber("Created", company->created)
        .Add("LatestFile", company->latest ? company->latest->name : std::string())
        .AddNumber("LatestFileSize", company->latest ? company->latest->size : 0)
        .AddNumber("ArchiveCount", company->archiveCount);
    return reply;
}

Reply GatewayCommands::DeleteCompany(const Account& account, const FormFields& form) const {
    const std::string key = form.Text("companykey");
    if (key.empty()) return Reply(ReplyStatus::BadRequest, "사업장키가 없습니다.");
    if (archives_.Rules().appendOnly) {
        return Reply(ReplyStatus::NotAllowed,
                     "이 웹폴더는 보관 전용이라 사업장을 삭제할 수 없습니다. 관리자에게 "
                     "문의해 주세요.");
    }
    if (!IsCompanyKey(key) || !archives_.DeleteCompany(account.id, key)) {
        return Reply(ReplyStatus::UnknownCompany);
    }
    return Reply(ReplyStatus::Ok);
}

}  // namespace tidewell::webfolder
