#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/backup.h"
#include "company/CompanyRegistry.h"
#include "gateway/ServiceEndpoint.h"
#include "gateway/SyncMode.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/FileKit.h"
#include "platform/TempFolder.h"

namespace tidewell {

class HttpClient;
class SettingsHive;
class TAnswerList;
class TTidewellGateway;

// One company as the list knows it: from the web folder, from this computer, or both.
struct TTidewellCompany {
    std::string CompanyKey;
    std::string CompanyName;
    TDateTime LatestFileTime = 0;  // newest archive in the web folder; zero when none
    std::int64_t LatestFileSize = 0;
    std::string LatestFileName;  // that archive's name; empty when none
    TDateTime Created = 0;
    std::string LocalPath;        // folder holding default.mdb on this computer; may be empty
    TDateTime LocalModified = 0;  // last-write time of that default.mdb
    FileSignature LocalFile;      // how that default.mdb looks now (see DatabaseSignature)
    TSyncMode SyncMode = smNone;
    TAgreedState Synced;               // what both sides last agreed on
    std::int64_t WebArchiveCount = 0;  // archives the web folder keeps; 0 when it doesn't say
};

// Entries are shared: rows of the window's list keep the companies they show alive while
// LoadCompanies replaces the account's list (the window repaints during the requests).
using TTidewellCompanyPtr = std::shared_ptr<TTidewellCompany>;

// What a transfer or a deletion came to. A refusal by the service is a result, not an error:
// its STATUS and MESSAGE are kept for the user.
struct TTransferResult {
    enum TKind {
        trDone,     // the service took the upload, the download is in place, the company is gone
        trRefused,  // the service said no (Status, Message); nothing local changed
        trNothing,  // nothing to do: blank credentials or a company the account doesn't know
    };
    TKind Kind = trNothing;
    std::string Status;
    std::string Message;

    static TTransferResult Done() { return {trDone, "0", {}}; }
    static TTransferResult Nothing() { return {}; }
    static TTransferResult Refused(std::string status, std::string message) {
        return {trRefused, std::move(status), std::move(message)};
    }
};

// Sender is the object that reported: the archive component or the HTTP client.
using TTidewellProgressEvent =
    std::function<void(const void* Sender, const std::string& Caption, const std::string& Message,
                       std::int64_t Total, std::int64_t Done, std::uint8_t Percent)>;

// A download or a way back whose database is of the other engine than the company's database
// here (an SQLite file where a Jet 4 one is, or the other way round): what would be replaced.
struct TFormatChange {
    std::string CompanyName;
    std::string LocalFormat;  // the database here, as users read its format
    std::string NewFormat;    // the one that would take its place
    bool WayBack = false;     // one of the company's safety archives, not the web folder's
};

// What an account works with, as the program's configuration gave it.
struct TAccountSetup {
    ServiceEndpoint Service;
    WorkPlacesInput Places;            // where this user's work folder and operation lock are
    SettingsHive* Settings = nullptr;  // where downloaded folders are registered; none: nowhere
    const Clock* WallClock = &SystemClock();
};

// The logged-in account: credentials, what the service reports about it, its companies, and
// the transfers of one company in either direction.
class TTidewellUser {
public:
    explicit TTidewellUser(const TAccountSetup& setup);
    ~TTidewellUser();
    TTidewellUser(const TTidewellUser&) = delete;
    TTidewellUser& operator=(const TTidewellUser&) = delete;

    std::string UserID;    // as passed to the last successful Login, not stripped
    std::string Password;  // kept in memory only
    std::string UserName;
    TDateTime Created = 0;
    TDateTime LastModified = 0;
    TDateTime ExpireAt = 0;  // zero: no end date
    std::int32_t RemainingDays = 0;
    std::int64_t DiskQuota = 0;
    std::int64_t DiskUsed = 0;
    TTidewellProgressEvent OnProgress;
    // Asked before a database of the other engine takes the place of a company's: true lets it.
    // Unset, such a download or way back is refused with both formats named, nothing changed.
    std::function<bool(const TFormatChange&)> OnFormatChange;
    std::int64_t TransferSize = 0;
    std::int64_t TransferDone = 0;

    // The service to talk to.
    ServiceEndpoint Service;

    // How long a transfer waits for another run of this user (the window, a scheduled
    // command) to finish its operation; nullopt waits as long as it takes.
    std::optional<std::chrono::milliseconds> LockWait = std::chrono::milliseconds(5000);
    // Whether Login asks for the disk usage too; an operation that never shows it skips the
    // request (RefreshDiskUsage asks later).
    bool UsageAtLogin = true;

    // False without a request when the stripped ID or password is blank; raises with the
    // service's MESSAGE when it refuses.
    bool Login(const std::string& UserID, const std::string& Password);
    // Keeps the previous figure when the request fails or is refused.
    void RefreshDiskUsage();
    // Replaces the companies only when the whole list arrived. A refused list comes back as
    // the service's STATUS and MESSAGE, a failed request raises; either leaves the previous list.
    TTransferResult LoadCompanies();
    // Forgets every company (rows that still show one keep it alive).
    void ClearCompanies() { Companies.clear(); }
    // Asks the service for one company's details again and takes the web folder's side of it
    // from them (newest archive, its size, how many there are); nothing else is asked. A
    // refusal means the web folder holds no archive of it now. A failed request raises.
    void ReadCompanyAgain(TTidewellCompany& Company);
    // Forgets the login: credentials, what the service said about the account, the companies.
    void Logout();

    int CompanyCount() const { return static_cast<int>(Companies.size()); }
    // Raises for an index outside 0..CompanyCount()-1.
    TTidewellCompanyPtr GetCompany(int Index) const;
    // First entry whose key equals CompanyKey exactly, or -1.
    int IndexOfCompany(const std::string& CompanyKey) const;
    // Appends; the list shares ownership from then on. Returns the new index.
    int AddCompany(TTidewellCompanyPtr Company);
    TTransferResult DeleteCompany(const std::string& CompanyKey);

    // Each runs as one operation on company data (see CompanyOperation): it waits LockWait for
    // another run, and raises OperationStopped after a stop request, with nothing local
    // changed and no working file left.
    TTransferResult UploadCompany(const std::string& CompanyKey);
    TTransferResult DownloadCompany(const std::string& CompanyKey);
    // Puts the data of one of the company's safety archives back into its folder, with the
    // protections of a download: the current data first goes into a new safety archive, then
    // the archive is staged, checked and committed. The data comes back as this computer's
    // newest change: the database gets the time of the return (at file-time resolution), so
    // the next sync sends it rather than taking the web folder's copy over it.
    TTransferResult RestoreCompanyArchive(const std::string& CompanyKey,
                                          const std::string& ArchivePath);
    // Fetches the web folder's newest archive of the company into its Backup folder as a safety
    // archive, without restoring anything, so that its data stays reachable once this
    // computer's data has replaced it there. Kept is the archive's path.
    TTransferResult KeepNewestArchive(const std::string& CompanyKey, std::string& Kept);

    // Asks the transfer under way to stop at its next block or network wait. It stays asked
    // until ResetStop, so a loop over several companies ends too.
    void RequestStop() { stopRequested_ = true; }
    void ResetStop() { stopRequested_ = false; }
    bool StopRequested() const { return stopRequested_; }
    void RegisterLocalCompany(const std::string& CompanyKey, const std::string& CompanyName,
                              const std::string& LocalPath);
    // The same, and what both sides now agree on, in one transaction of the settings.
    void RegisterLocalCompany(const std::string& CompanyKey, const std::string& CompanyName,
                              const std::string& LocalPath, const TAgreedState& Synced);
    std::string MakeUniqueCompanyName(const std::string& Name);

    const WorkPlacesInput& Places() const { return places_; }
    SettingsHive* Settings() const { return settings_; }
    const Clock& WallClock() const { return clock_; }

    // How many times LoadCompanies asks for a company's details while replies carry no STATUS.
    static constexpr int kCompanyInfoTries = 3;

private:
    bool HasCredentials() const;
    std::unique_ptr<TTidewellGateway> NewGateway() const;
    void ReportStage(TBackupFile* sender, const char* caption, const char* message,
                     TPercentage percent);
    // reporter, when given, stands in for Sender: a transfer that runs on another thread.
    void HandleTransferData(HttpClient* Sender, const char* Buffer, std::size_t Len,
                            const void* reporter = nullptr);
    void HandleBackupProgress(TBackupFile* Sender, const std::string& Filename, TPercentage Percent,
                              bool& Continue);
    void HandleRestoreProgress(TBackupFile* Sender, const std::string& Filename,
                               TPercentage Percent, bool& Continue);
    void HandlePrepareProgress(TBackupFile* Sender, const std::string& Filename,
                               TPercentage Percent, bool& Continue);
    // One archive going into a company's folder.
    struct TRestorePlan {
        std::string Archive;
        std::optional<FileIdentity> Folder;  // the folder as the operation found it
        std::string SafetyFolder;            // where the safety archive goes
        std::string WorkFolder;              // the operation's private folder
        TDateTime Time = 0;                  // given to the restored database; zero: its own
        bool WayBack = false;                // a safety archive put back
    };
    // Stages and checks the archive, then, holding the database's lock, packs what it replaces
    // into a new safety archive and commits it. onProgress reports the staging. Returns how the
    // new database looked before the lock went.
    FileSignature RestoreInto(const TTidewellCompany& company, const TRestorePlan& plan,
                              const TProgressEvent& onProgress);
    StopQuery StopQueryOf() {
        return [this] { return StopRequested(); };
    }

    // The registered companies, when the account has settings to register them in.
    std::optional<CompanyRegistry> Registry() const;

    std::vector<TTidewellCompanyPtr> Companies;
    WorkPlacesInput places_;
    SettingsHive* settings_;
    const Clock& clock_;
    std::atomic<bool> stopRequested_{false};
};

}  // namespace tidewell
