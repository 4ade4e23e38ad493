#pragma once

#include <cstdint>
#include <variant>

#include "AccountStore.h"
#include "ArchiveStore.h"
#include "FormBody.h"
#include "Reply.h"
#include "RequestLog.h"

namespace tidewell::webfolder {

// The command page and the download page: both take a form with the user ID and password.
class GatewayCommands {
public:
    GatewayCommands(const AccountStore& accounts, const ArchiveStore& archives)
        : accounts_(accounts), archives_(archives) {}

    // cmd = userprofile, diskusage, companylist, companyinfo or deletecompany.
    Reply Run(const FormFields& form, std::int64_t now, RequestNote& note) const;

    // The company's newest archive, or a text reply saying why there is none.
    std::variant<Reply, OpenedArchive> Download(const FormFields& form, RequestNote& note) const;

private:
    std::optional<Account> Login(const FormFields& form, RequestNote& note) const;
    Reply UserProfile(const Account& account, std::int64_t now) const;
    Reply DiskUsage(const Account& account) const;
    Reply CompanyList(const Account& account) const;
    Reply CompanyInfo(const Account& account, const FormFields& form) const;
    Reply DeleteCompany(const Account& account, const FormFields& form) const;

    const AccountStore& accounts_;
    const ArchiveStore& archives_;
};

}  // namespace tidewell::webfolder
