#include "gateway/TidewellUser.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "company/BackupCompany.h"
#include "company/Common.h"
#include "company/CompanyOperation.h"
#include "company/HostProduct.h"
#include "company/SafetyArchives.h"
#include "gateway/ArchiveReceiver.h"
#include "gateway/TidewellGateway.h"
#include "platform/DosTime.h"
#include "platform/FileKit.h"
#include "platform/SettingsHive.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

// Removes a folder that did not exist when the scope began, if it is still empty when it ends.
class EmptyFolderRemoval {
public:
    explicit EmptyFolderRemoval(std::string folder)
        : folder_(std::move(folder)), existed_(fs::exists(fs::symlink_status(folder_))) {}
    EmptyFolderRemoval(const EmptyFolderRemoval&) = delete;
    EmptyFolderRemoval& operator=(const EmptyFolderRemoval&) = delete;
    ~EmptyFolderRemoval() {
        std::error_code ignored;
        if (!existed_ && fs::is_empty(folder_, ignored)) fs::remove(folder_, ignored);
    }

private:
    std::string folder_;
    bool existed_;
};

// done * 100 / total rounded to the nearest integer, a half to the even neighbour; 0 when
// nothing is expected. Above 255 (a reply far larger than announced) it stays at 255.
std::uint8_t TransferPercent(std::int64_t done, std::int64_t total) {
    if (total == 0) return 0;
    const double percent =
        std::nearbyint(static_cast<double>(done) * 100.0 / static_cast<double>(total));
    if (percent <= 0) return 0;
    return percent >= 255 ? 255 : static_cast<std::uint8_t>(percent);
}

TTidewellCompanyPtr CompanyFromInfo(const TAnswerList& info) {
    auto company = std::make_shared<TTidewellCompany>();
    company->CompanyKey = info.Values("CompanyKey");
    company->CompanyName = info.Values("CompanyName");
    company->Created = AnswerToEpochTime(info.Values("Created"));
    company->LatestFileTime = AnswerToArchiveTime(info.Values("LatestFile"));
    company->LatestFileSize = AnswerToInt64(info.Values("LatestFileSize"));
    if (company->LatestFileTime > 0) company->LatestFileName = info.Values("LatestFile");
    company->WebArchiveCount = AnswerToInt64(info.Values("ArchiveCount"));
    return company;
}

}  // namespace

TTidewellUser::TTidewellUser(const TAccountSetup& setup)
    : Service(setup.Service),
      places_(setup.Places),
      settings_(setup.Settings),
      clock_(*setup.WallClock) {}

TTidewellUser::~TTidewellUser() = default;

std::optional<CompanyRegistry> TTidewellUser::Registry() const {
    if (!settings_) return std::nullopt;
    return CompanyRegistry(*settings_);
}

bool TTidewellUser::HasCredentials() const {
    return !TrimBlanks(UserID).empty() && !TrimBlanks(Password).empty();
}

std::unique_ptr<TTidewellGateway> TTidewellUser::NewGateway() const {
    auto gateway = std::make_unique<TTidewellGateway>(Service);
    // Every request of the account ends at once when the user stops, also one that stalls.
    gateway->HttpClient->ShouldStop = [this] { return StopRequested(); };
    return gateway;
}

bool TTidewellUser::Login(const std::string& userID, const std::string& password) {
    if (TrimBlanks(userID).empty() || TrimBlanks(password).empty()) return false;
    TAnswerList answer;
    if (!NewGateway()->GetUserProfile(userID, password, answer)) {
        throw Exception(answer.Values("MESSAGE"));
    }
    UserID = userID;
    Password = password;
    UserName = answer.Values("UserName");
    Created = AnswerToEpochTime(answer.Values("Created"));
    LastModified = AnswerToEpochTime(answer.Values("LastModified"));
    ExpireAt = AnswerToInt64(answer.Values("ExpireAt")) == 0
                   ? 0
                   : AnswerToEpochTime(answer.Values("ExpireAt"));
    RemainingDays = AnswerToInteger(answer.Values("RemainingDays"));
    DiskQuota = AnswerToInt64(answer.Values("DiskQuota"));
    if (UsageAtLogin) RefreshDiskUsage();
    return true;
}

void TTidewellUser::RefreshDiskUsage() {
    if (!HasCredentials()) return;
    TAnswerList answer;
    if (NewGateway()->GetDiskUsage(UserID, Password, answer)) {
        DiskUsed = AnswerToInt64(answer.Values("DiskUsed"));
    }
}

TTransferResult TTidewellUser::LoadCompanies() {
    if (!HasCredentials()) return TTransferResult::Nothing();
    // Built aside and swapped in whole: rows of the window keep pointing at companies the
    // account still has, whatever happens to the requests.
    std::vector<TTidewellCompanyPtr> loaded;
    TAnswerList list;
    if (!NewGateway()->GetCompanyList(UserID, Password, list)) {
        return TTransferResult::Refused(list.Values("STATUS"), list.Values("MESSAGE"));
    }
    const std::int32_t count = AnswerToInteger(list.Values("CompanyCount"));
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string key = list.Values(CompanyListKey(i));
        // A reply without any STATUS line is asked again, a few times; the entry is then made
        // from the last reply, whatever it held.
        TAnswerList info;
        for (int attempt = 0; attempt < kCompanyInfoTries; ++attempt) {
            NewGateway()->GetCompanyInfo(UserID, Password, key, info);
            if (info.HasName("STATUS")) break;
        }
        loaded.push_back(CompanyFromInfo(info));
    }
    Companies = std::move(loaded);
    return TTransferResult::Done();
}

void TTidewellUser::ReadCompanyAgain(TTidewellCompany& company) {
    if (!HasCredentials()) return;
    TAnswerList info;
    for (int attempt = 0; attempt < kCompanyInfoTries; ++attempt) {
        NewGateway()->GetCompanyInfo(UserID, Password, company.CompanyKey, info);
        if (info.HasName("STATUS")) break;
    }
    const TTidewellCompanyPtr now =
        info.Values("STATUS") == "0" ? CompanyFromInfo(info) : std::make_shared<TTidewellCompany>();
    company.LatestFileTime = now->LatestFileTime;
    company.LatestFileSize = now->LatestFileSize;
    company.LatestFileName = now->LatestFileName;
    company.WebArchiveCount = now->WebArchiveCount;
}

void TTidewellUser::Logout() {
    UserID.clear();
    Password.clear();
    UserName.clear();
    Created = LastModified = ExpireAt = 0;
    RemainingDays = 0;
    DiskQuota = DiskUsed = 0;
    Companies.clear();
}

TTidewellCompanyPtr TTidewellUser::GetCompany(int index) const {
    if (index < 0 || index >= CompanyCount()) {
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    return Companies[static_cast<std::size_t>(index)];
}

int TTidewellUser::IndexOfCompany(const std::string& companyKey) const {
    for (std::size_t i = 0; i < Companies.size(); ++i) {
        if (Companies[i]->CompanyKey == companyKey) return static_cast<int>(i);
    }
    return -1;
}

int TTidewellUser::AddCompany(TTidewellCompanyPtr company) {
    Companies.push_back(std::move(company));
    return CompanyCount() - 1;
}

TTransferResult TTidewellUser::DeleteCompany(const std::string& companyKey) {
    if (!HasCredentials()) return TTransferResult::Nothing();
    const int index = IndexOfCompany(companyKey);
    if (index < 0) return TTransferResult::Nothing();
    TAnswerList answer;
    if (NewGateway()->DeleteCompany(UserID, Password, GetCompany(index)->CompanyKey, answer)) {
        return TTransferResult::Done();
    }
    return TTransferResult::Refused(answer.Values("STATUS"), answer.Values("MESSAGE"));
}

void TTidewellUser::ReportStage(TBackupFile* sender, const char* caption, const char* message,
                                TPercentage percent) {
    if (OnProgress) OnProgress(sender, caption, message, 0, 0, percent);
}

void TTidewellUser::HandleBackupProgress(TBackupFile* sender, const std::string&,
                                         TPercentage percent, bool&) {
    ReportStage(sender, "백업", "업로드할 자료를 백업중입니다...", percent);
}

void TTidewellUser::HandlePrepareProgress(TBackupFile* sender, const std::string&,
                                          TPercentage percent, bool&) {
    ReportStage(sender, "복원", "복원 준비중...", percent);
}

void TTidewellUser::HandleRestoreProgress(TBackupFile* sender, const std::string&,
                                          TPercentage percent, bool&) {
    ReportStage(sender, "복원", "다운로드한 자료를 복원중입니다...", percent);
}

void TTidewellUser::HandleTransferData(HttpClient* sender, const char*, std::size_t len,
                                       const void* reporter) {
    TransferDone += static_cast<std::int64_t>(len);
    if (OnProgress) {
        // The request's own framing is not the user's data: the count stops at the archive.
        const std::int64_t done =
            TransferSize > 0 ? std::min(TransferDone, TransferSize) : TransferDone;
        OnProgress(reporter ? reporter : sender, "전송", "자료를 전송중입니다...", TransferSize,
                   done, TransferPercent(done, TransferSize));
    }
}

TTransferResult TTidewellUser::UploadCompany(const std::string& companyKey) {
    const int index = IndexOfCompany(companyKey);
    if (!HasCredentials() || index < 0) return TTransferResult::Nothing();
    const TTidewellCompanyPtr company = GetCompany(index);

    CompanyOperation operation(places_, LockWait, StopQueryOf());
    ReportStage(nullptr, "백업", "업로드할 자료를 백업중입니다...", 0);
    // Noted before the snapshot: a change made after it must show as one afterwards.
    const FileSignature sent = DatabaseSignature(CompanyDatabaseFile(company->LocalPath));
    std::string archive;
    {
        TBackupCompany backup(operation.Folder(), clock_);
        backup.SourceFolder = company->LocalPath;
        backup.ShouldStop = StopQueryOf();
        backup.OnProgress = [this](TBackupFile* s, const std::string& f, TPercentage p, bool& c) {
            HandleBackupProgress(s, f, p, c);
        };
        backup.Backup("", archive);
    }

    auto gateway = NewGateway();
    gateway->HttpClient->ShouldStop = StopQueryOf();
    gateway->OnTransferData = [this](HttpClient* s, const char* b, std::size_t n) {
        HandleTransferData(s, b, n);
    };
    TransferDone = 0;
    TransferSize = GetPathSize(archive);
    if (OnProgress) {
        OnProgress(this, "전송", "자료를 전송중입니다...", TransferSize, 0, 0);
    }
    TAnswerList answer;
    if (gateway->UploadFile(UserID, Password, company->CompanyKey, company->CompanyName, archive,
                            answer)) {
        // The archive's name is the time both sides now hold.
        const std::string name = fs::path(archive).filename().string();
        if (const auto time = ArchiveTimeToDateTime(name)) {
            company->Synced = {*time, sent, name, GetPathSize(archive)};
            if (auto registry = Registry()) {
                registry->RecordSynced(company->CompanyKey, company->LocalPath, company->Synced);
            }
        }
        return TTransferResult::Done();
    }
    return TTransferResult::Refused(answer.Values("STATUS"), answer.Values("MESSAGE"));
}

FileSignature TTidewellUser::RestoreInto(const TTidewellCompany& company, const TRestorePlan& plan,
                                         const TProgressEvent& onProgress) {
    const std::string& folder = company.LocalPath;
    bool go = true;
    onProgress(nullptr, {}, 0, go);
    TCompanyRestore restore(folder);
    restore.ShouldStop = StopQueryOf();
    restore.OnProgress = onProgress;
    restore.CompanyKey = company.CompanyKey;
    restore.CompanyName = company.CompanyName;
    restore.FolderIdentity = plan.Folder;
    restore.ConfirmFormatChange = [&](const std::string& local, const std::string& arriving) {
        return OnFormatChange &&
               OnFormatChange({company.CompanyName, local, arriving, plan.WayBack});
    };
    // A restore that did not finish left the previous database in place; stamping it with a
    // new time would make it look as if it held the new data.
    if (!restore.Stage(plan.Archive)) {
        throw Exception(company.CompanyName +
                        ": 자료를 복원하지 못했습니다. 이전 자료는 그대로 있습니다.\r\n" +
                        restore.Problem());
    }

    // The safety archive is what protects the local data the restore replaces: without it
    // nothing is replaced, and it is given up again when the replacement does not happen.
    std::optional<ScopedFileRemoval> dropSafety;
    FileSignature settled;
    TCommitSteps steps;
    steps.CopyFile = plan.WorkFolder + "/" + kCompanyDatabaseName;
    steps.KeepCurrent = [&](ByteSource* database, const std::vector<std::string>& others) {
        std::vector<TSourceMember> sources;
        if (database) {
            TDateTime time = 0;
            if (!GetCompanyDatabaseTime(folder, time)) time = clock_.Now();
            // Stored as a copy in the work folder would be, with the data's own time.
            sources.push_back({steps.CopyFile, PackDosDateTime(time).value_or(-1), database});
        }
        if (sources.empty() && others.empty()) return;
        ReportStage(nullptr, "복원", "복원 준비중...", 0);
        TBackupCompany backup(plan.WorkFolder, clock_);
        backup.SourceFolder = folder;
        backup.ShouldStop = StopQueryOf();
        backup.OnProgress = [this](TBackupFile* s, const std::string& f, TPercentage p, bool& c) {
            HandlePrepareProgress(s, f, p, c);
        };
        std::string made;
        backup.KeepFiles(sources, others, SafetyArchiveName(plan.SafetyFolder, clock_.Now()), made);
        dropSafety.emplace(made);
        bool go = true;
        onProgress(nullptr, {}, 100, go);  // what remains is the replacement itself
    };
    steps.SettleNew = [&](const std::string& file) {
        if (plan.Time > 0) StampDatabaseFile(file, plan.Time);
        settled = DatabaseSignature(file);
    };
    restore.Commit(steps);
    if (dropSafety) dropSafety->Keep();
    return settled;
}

TTransferResult TTidewellUser::RestoreCompanyArchive(const std::string& companyKey,
                                                     const std::string& archivePath) {
    const int index = IndexOfCompany(companyKey);
    if (index < 0) return TTransferResult::Nothing();
    const TTidewellCompanyPtr company = GetCompany(index);
    const std::string folder = company->LocalPath;
    if (folder.empty()) return TTransferResult::Nothing();
    if (!FileExists(archivePath)) throw Exception("백업 파일이 없습니다: " + archivePath);

    CompanyOperation operation(places_, LockWait, StopQueryOf());
    TRestorePlan plan;
    plan.Archive = archivePath;
    plan.SafetyFolder = SafetyArchiveFolder(folder);
    plan.Folder = IdentityOf(folder);
    plan.WorkFolder = operation.Folder();
    RemoveCompanyLeftovers(folder);
    // Going back is a change made on this computer now: with its old time the data would look
    // older than the web folder's and the next sync would take that back over it.
    plan.Time = NowAtFileResolution(clock_);
    plan.WayBack = true;
    const EmptyFolderRemoval dropBackupFolder(plan.SafetyFolder);
    RestoreInto(*company, plan, [this](TBackupFile* s, const std::string&, TPercentage p, bool&) {
        ReportStage(s, "복원", "이전 자료를 복원중입니다...", p);
    });
    return TTransferResult::Done();
}

TTransferResult TTidewellUser::KeepNewestArchive(const std::string& companyKey, std::string& kept) {
    const int index = IndexOfCompany(companyKey);
    if (!HasCredentials() || index < 0) return TTransferResult::Nothing();
    const TTidewellCompanyPtr company = GetCompany(index);
    const std::string folder = company->LocalPath;
    if (folder.empty()) return TTransferResult::Nothing();

    CompanyOperation operation(places_, LockWait, StopQueryOf());
    const std::string safetyFolder = SafetyArchiveFolder(folder);
    TransferDone = 0;
    TransferSize = company->LatestFileSize;
    ArchiveReceiver receiver(NewGateway(), UserID, Password, company->CompanyKey,
                             operation.Folder(), StopQueryOf());
    const auto report = [this, &receiver] {
        TransferDone = receiver.Received();
        if (!OnProgress) return;
        const std::int64_t done =
            TransferSize > 0 ? std::min(TransferDone, TransferSize) : TransferDone;
        OnProgress(receiver.Sender(), "보관", "웹폴더의 자료를 백업 파일로 보관중입니다...",
                   TransferSize, done, TransferPercent(done, TransferSize));
    };
    report();
    TAnswerList answer;
    const std::string archive = receiver.Finish(answer, report);
    report();
    if (!FileExists(archive)) {
        return TTransferResult::Refused(answer.Values("STATUS"), answer.Values("MESSAGE"));
    }
    const EmptyFolderRemoval dropBackupFolder(safetyFolder);
    TBackupCompany keeper(operation.Folder(), clock_);
    keeper.SourceFolder = folder;
    keeper.KeepArchive(archive, SafetyArchiveName(safetyFolder, clock_.Now()), kept);
    return TTransferResult::Done();
}

TTransferResult TTidewellUser::DownloadCompany(const std::string& companyKey) {
    const int index = IndexOfCompany(companyKey);
    if (!HasCredentials() || index < 0) return TTransferResult::Nothing();
    const TTidewellCompanyPtr company = GetCompany(index);
    const std::string folder = company->LocalPath;

    CompanyOperation operation(places_, LockWait, StopQueryOf());
    const std::string database = CompanyDatabaseFile(folder);
    // The folder may hold another company's data (a folder picked by mistake): that data is
    // not this company's to replace.
    if (FileExists(database)) {
        const std::string present = ReadCompanyKey(folder);
        if (!present.empty() && present != company->CompanyKey) {
            throw Exception(company->CompanyName +
                            ": 선택한 폴더에 다른 사업장의 자료가 있어 "
                            "내려받지 않았습니다.\r\n" +
                            folder);
        }
    }
    // Nothing is fetched for a folder that can't take it; what it is now is what it must still
    // be when its data is replaced.
    TRestorePlan plan;
    plan.SafetyFolder = SafetyArchiveFolder(folder);
    plan.Folder = IdentityOf(folder);
    plan.WorkFolder = operation.Folder();
    RemoveCompanyLeftovers(folder);

    TransferDone = 0;
    TransferSize = company->LatestFileSize;
    // The archive arrives on a thread of its own; this one keeps the window going meanwhile.
    ArchiveReceiver receiver(NewGateway(), UserID, Password, company->CompanyKey,
                             operation.Folder(), StopQueryOf());
    const auto reportTransfer = [this, &receiver] {
        if (receiver.Received() == TransferDone && TransferDone != 0) return;
        TransferDone = receiver.Received();
        HandleTransferData(nullptr, nullptr, 0, receiver.Sender());
    };
    reportTransfer();
    // The name carries the time the data will be given; a name without one is no archive of
    // the service's, and it is not even received.
    const std::string name = receiver.AwaitName(reportTransfer);
    if (!name.empty() && !ArchiveTimeToDateTime(name)) {
        throw Exception(company->CompanyName + ": 내려받은 파일의 이름(" + name +
                        ")에 자료의 시간이 없어 복원하지 않았습니다.");
    }
    TAnswerList answer;
    const std::string archive = receiver.Finish(answer, reportTransfer);
    reportTransfer();
    if (!FileExists(archive)) {
        return TTransferResult::Refused(answer.Values("STATUS"), answer.Values("MESSAGE"));
    }
    const std::string received = fs::path(archive).filename().string();
    const auto time = ArchiveTimeToDateTime(received);
    if (!time) {
        throw Exception(company->CompanyName + ": 내려받은 파일의 이름(" + received +
                        ")에 자료의 시간이 없어 복원하지 않았습니다.");
    }

    // Only now, with the whole archive here, is the local data touched.
    plan.Archive = archive;
    plan.Time = *time;
    const EmptyFolderRemoval dropBackupFolder(plan.SafetyFolder);
    const FileSignature restored = RestoreInto(
        *company, plan, [this](TBackupFile* s, const std::string& f, TPercentage p, bool& c) {
            HandleRestoreProgress(s, f, p, c);
        });
    company->Synced = {*time, restored, received, GetPathSize(archive)};
    RegisterLocalCompany(company->CompanyKey, company->CompanyName, folder, company->Synced);
    return TTransferResult::Done();
}

void TTidewellUser::RegisterLocalCompany(const std::string& companyKey,
                                         const std::string& companyName,
                                         const std::string& localPath) {
    RegisterLocalCompany(companyKey, companyName, localPath, TAgreedState{});
}

void TTidewellUser::RegisterLocalCompany(const std::string& companyKey,
                                         const std::string& companyName,
                                         const std::string& localPath, const TAgreedState& synced) {
    if (auto registry = Registry()) {
        registry->AddAfterHighest(companyKey, companyName, localPath, synced);
    }
}

std::string TTidewellUser::MakeUniqueCompanyName(const std::string& name) {
    return settings_ ? tidewell::MakeUniqueCompanyName(*settings_, name) : name;
}

}  // namespace tidewell
