#include "gateway/TidewellUser.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "company/BackupCompany.h"
#include "company/CompanyOperation.h"
#include "company/SafetyArchives.h"
#include "gateway/ArchiveReceiver.h"
#include "company/Common.h"
#include "company/LocalCompanyList.h"
#include "gateway/TidewellGateway.h"
#include "platform/FileKit.h"
#include "platform/SettingsHive.h"

namespace fs = std::filesystem;

namespace tidewell {
namespace {

constexpr const char* kHostCompanyKey = "Software\\QuenlowBarcode\\Company";

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
    company->WebArchiveCount = AnswerToInt64(info.Values("ArchiveCount"));
    return company;
}

}  // namespace

bool BothSidesChanged(const TTidewellCompany& company) {
    if (company.SyncedTime <= 0) return false;
    const auto second = [](TDateTime t) { return FormatDateTime("yyyymmddhhnnss", t); };
    const std::string agreed = second(company.SyncedTime);
    const std::string local = second(company.LocalModified);
    const std::string web = second(company.LatestFileTime);
    return local > agreed && web > agreed && local != web;
}

TTidewellUser::TTidewellUser() = default;
TTidewellUser::~TTidewellUser() = default;

bool TTidewellUser::HasCredentials() const {
    return !TrimBlanks(UserID).empty() && !TrimBlanks(Password).empty();
}

std::unique_ptr<TTidewellGateway> TTidewellUser::NewGateway() const {
    return ServiceURL.empty() ? std::make_unique<TTidewellGateway>()
                              : std::make_unique<TTidewellGateway>(ServiceURL);
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
    RefreshDiskUsage();
    return true;
}

void TTidewellUser::RefreshDiskUsage() {
    if (!HasCredentials()) return;
    TAnswerList answer;
    if (NewGateway()->GetDiskUsage(UserID, Password, answer)) {
        DiskUsed = AnswerToInt64(answer.Values("DiskUsed"));
    }
}

void TTidewellUser::LoadCompanies() {
    if (!HasCredentials()) return;
    // Built aside and swapped in whole: rows of the window keep pointing at companies the
    // account still has, whatever happens to the requests.
    std::vector<TTidewellCompanyPtr> loaded;
    TAnswerList list;
    if (!NewGateway()->GetCompanyList(UserID, Password, list)) {
        const std::string message = list.Values("MESSAGE");
        throw Exception("웹폴더의 사업장 목록을 받지 못했습니다." +
                        (message.empty() ? std::string() : "\r\n" + message));
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
        OnProgress(reporter ? reporter : sender, "전송", "자료를 전송중입니다...", TransferSize, done,
                   TransferPercent(done, TransferSize));
    }
}

TTransferResult TTidewellUser::UploadCompany(const std::string& companyKey) {
    const int index = IndexOfCompany(companyKey);
    if (!HasCredentials() || index < 0) return TTransferResult::Nothing();
    const TTidewellCompanyPtr company = GetCompany(index);

    CompanyOperation operation(LockWait, StopQueryOf());
    ReportStage(nullptr, "백업", "업로드할 자료를 백업중입니다...", 0);
    std::string archive;
    {
        TBackupCompany backup;
        backup.SourceFolder = company->LocalPath;
        backup.WorkFolder = operation.Folder();
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
        if (const auto time = ArchiveTimeToDateTime(fs::path(archive).filename().string())) {
            company->SyncedTime = *time;
            if (auto key = CurrentUserHive().OpenKey(kProgramKey, false)) {
                auto batch = CurrentUserHive().Batch();
                RecordCompanySynced(*key, company->CompanyKey, company->LocalPath, *time);
                batch.Commit();
            }
        }
        return TTransferResult::Done();
    }
    return TTransferResult::Refused(answer.Values("STATUS"), answer.Values("MESSAGE"));
}

std::string TTidewellUser::KeepSafetyCopy(const std::string& folder,
                                          const std::string& workFolder,
                                          const TProgressEvent& onProgress) {
    if (!FileExists(CompanyDatabaseFile(folder))) return {};
    ReportStage(nullptr, "복원", "복원 준비중...", 0);
    std::string made;
    TBackupCompany backup;
    backup.SourceFolder = folder;
    backup.WorkFolder = workFolder;
    backup.SafetyCopy = true;
    backup.ShouldStop = StopQueryOf();
    backup.OnProgress = onProgress;
    backup.Backup(SafetyArchiveName(folder, Now()), made);
    return made;
}

void TTidewellUser::RestoreInto(const TTidewellCompany& company, const std::string& archive,
                                const TProgressEvent& onProgress) {
    bool go = true;
    onProgress(nullptr, {}, 0, go);
    TCompanyRestore restore(company.LocalPath);
    restore.ShouldStop = StopQueryOf();
    restore.OnProgress = onProgress;
    // A restore that did not finish left the previous database in place; stamping it with a
    // new time would make it look as if it held the new data.
    if (!restore.Stage(archive)) {
        throw Exception(company.CompanyName +
                        ": 자료를 복원하지 못했습니다. 이전 자료는 그대로 있습니다.\r\n" +
                        restore.Problem());
    }
    restore.Commit();
}

TTransferResult TTidewellUser::RestoreCompanyArchive(const std::string& companyKey,
                                                     const std::string& archivePath) {
    const int index = IndexOfCompany(companyKey);
    if (index < 0) return TTransferResult::Nothing();
    const TTidewellCompanyPtr company = GetCompany(index);
    const std::string folder = company->LocalPath;
    if (folder.empty()) return TTransferResult::Nothing();
    if (!FileExists(archivePath)) throw Exception("백업 파일이 없습니다: " + archivePath);

    CompanyOperation operation(LockWait, StopQueryOf());
    RemoveCompanyLeftovers(folder);
    const TDateTime dataTime = [&] {
        for (const TSafetyArchive& archive : ListSafetyArchives(folder)) {
            std::error_code ec;
            if (fs::equivalent(archive.Path, archivePath, ec)) return archive.DataTime;
        }
        return TDateTime{0};
    }();
    const EmptyFolderRemoval dropBackupFolder(folder + "/Backup");
    ScopedFileRemoval dropSafety(KeepSafetyCopy(
        folder, operation.Folder(),
        [this](TBackupFile* s, const std::string& f, TPercentage p, bool& c) {
            HandlePrepareProgress(s, f, p, c);
        }));
    RestoreInto(*company, archivePath, [this](TBackupFile* s, const std::string&, TPercentage p,
                                              bool&) {
        ReportStage(s, "복원", "이전 자료를 복원중입니다...", p);
    });
    dropSafety.Keep();
    // The data is what it was then: it carries the time it had then.
    if (dataTime > 0) StampCompanyDatabase(folder, dataTime);
    return TTransferResult::Done();
}

TTransferResult TTidewellUser::DownloadCompany(const std::string& companyKey) {
    const int index = IndexOfCompany(companyKey);
    if (!HasCredentials() || index < 0) return TTransferResult::Nothing();
    const TTidewellCompanyPtr company = GetCompany(index);
    const std::string folder = company->LocalPath;

    CompanyOperation operation(LockWait, StopQueryOf());
    const std::string database = CompanyDatabaseFile(folder);
    // The folder may hold another company's data (a folder picked by mistake): that data is
    // not this company's to replace.
    if (FileExists(database)) {
        const std::string present = ReadCompanyKey(folder);
        if (!present.empty() && present != company->CompanyKey) {
            throw Exception(company->CompanyName + ": 선택한 폴더에 다른 사업장의 자료가 있어 "
                                                   "내려받지 않았습니다.\r\n" + folder);
        }
    }
    RemoveCompanyLeftovers(folder);

    TransferDone = 0;
    TransferSize = company->LatestFileSize;
    // The archive arrives on a thread of its own while this one packs the safety copy.
    ArchiveReceiver receiver(NewGateway(), UserID, Password, company->CompanyKey,
                             operation.Folder(), StopQueryOf());
    const auto reportTransfer = [this, &receiver] {
        if (receiver.Received() == TransferDone && TransferDone != 0) return;
        TransferDone = receiver.Received();
        HandleTransferData(nullptr, nullptr, 0, receiver.Sender());
    };
    reportTransfer();
    const std::string name = receiver.AwaitName(reportTransfer);

    // The name carries the time the data will be given; a name without one is no archive of
    // the service's, and nothing local is touched for it.
    std::optional<TDateTime> time;
    if (!name.empty()) {
        time = ArchiveTimeToDateTime(name);
        if (!time) {
            throw Exception(company->CompanyName + ": 내려받은 파일의 이름(" + name +
                            ")에 자료의 시간이 없어 복원하지 않았습니다.");
        }
    }

    // The safety copy is what protects the local data the download replaces; without it the
    // download does not go on. It is given up again when the restore does not happen, and so
    // is a Backup folder made for it.
    const EmptyFolderRemoval dropBackupFolder(folder + "/Backup");
    std::optional<ScopedFileRemoval> dropSafety;
    if (time) {
        const auto started = std::chrono::steady_clock::now();
        const std::string made = KeepSafetyCopy(
            folder, operation.Folder(),
            [&](TBackupFile* s, const std::string& f, TPercentage p, bool& c) {
                // Two stages at once: the panel follows the one that will end last.
                if (!receiver.Done() && ReceivingEndsLater(receiver.Received(), p, started)) {
                    reportTransfer();
                } else {
                    HandlePrepareProgress(s, f, p, c);
                }
            });
        if (!made.empty()) dropSafety.emplace(made);
    }

    TAnswerList answer;
    const std::string archive = receiver.Finish(answer, reportTransfer);
    reportTransfer();
    if (!FileExists(archive)) {
        return TTransferResult::Refused(answer.Values("STATUS"), answer.Values("MESSAGE"));
    }

    RestoreInto(*company, archive,
                [this](TBackupFile* s, const std::string& f, TPercentage p, bool& c) {
                    HandleRestoreProgress(s, f, p, c);
                });
    if (dropSafety) dropSafety->Keep();

    StampCompanyDatabase(folder, *time);
    company->SyncedTime = *time;
    RegisterLocalCompany(company->CompanyKey, company->CompanyName, folder, *time);
    return TTransferResult::Done();
}

bool TTidewellUser::ReceivingEndsLater(std::int64_t received, TPercentage packed,
                                       std::chrono::steady_clock::time_point started) const {
    // Each stage's time to go, from its pace so far; a stage that has not begun yet counts as
    // the longer one.
    if (received <= 0 || TransferSize <= 0) return true;
    if (packed == 0) return false;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double receiving =
        elapsed * static_cast<double>(std::max<std::int64_t>(TransferSize - received, 0)) /
        static_cast<double>(received);
    const double packing = elapsed * (100.0 - packed) / packed;
    return receiving > packing;
}

void TTidewellUser::RegisterLocalCompany(const std::string& companyKey,
                                         const std::string& companyName,
                                         const std::string& localPath) {
    RegisterLocalCompany(companyKey, companyName, localPath, 0);
}

void TTidewellUser::RegisterLocalCompany(const std::string& companyKey,
                                         const std::string& companyName,
                                         const std::string& localPath, TDateTime synced) {
    auto key = CurrentUserHive().OpenKey(kProgramKey, false);
    if (!key) return;
    auto batch = CurrentUserHive().Batch();
    int highest = -1;
    bool used[kCompanySlotCount] = {};
    bool registered = false;
    for (int slot = 0; slot < kCompanySlotCount && !registered; ++slot) {
        const std::string pathValue = CompanySlotValue(slot, "Path");
        if (!key->ValueExists(pathValue)) continue;
        used[slot] = true;
        highest = slot;
        registered = key->ReadString(pathValue) == localPath;
    }
    if (registered) {
        if (synced > 0) RecordCompanySynced(*key, companyKey, localPath, synced);
        batch.Commit();
        return;
    }
    int slot = highest < 0 ? 1 : highest + 1;
    // Slots above 99 are never read back: take the lowest free one instead, or none at all.
    if (slot >= kCompanySlotCount) {
        slot = -1;
        for (int free = 0; free < kCompanySlotCount && slot < 0; ++free) {
            if (!used[free]) slot = free;
        }
        if (slot < 0) return;
    }
    key->WriteString(CompanySlotValue(slot, "Key"), companyKey);
    key->WriteString(CompanySlotValue(slot, "Name"), MakeUniqueCompanyName(companyName));
    key->WriteString(CompanySlotValue(slot, "Path"), localPath);
    WriteSlotSynced(*key, slot, synced);  // a value left by an older slot is no agreement
    batch.Commit();
}

std::string TTidewellUser::MakeUniqueCompanyName(const std::string& name) {
    const auto key = CurrentUserHive().OpenKey(kHostCompanyKey, false);
    if (!key) return name;
    std::vector<std::string> taken;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        const std::string valueName = CompanySlotValue(slot, "Name");
        if (key->ValueExists(valueName)) taken.push_back(key->ReadString(valueName));
    }
    std::string candidate = name;
    for (int counter = 1; std::find(taken.begin(), taken.end(), candidate) != taken.end();
         ++counter) {
        candidate = name + "(" + std::to_string(counter) + ")";
    }
    return candidate;
}

}  // namespace tidewell
