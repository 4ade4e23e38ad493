#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/backup.h"
#include "gateway/SyncMode.h"
#include "platform/DateTime.h"

namespace tidewell {

class HttpClient;
class TTidewellGateway;

// One company as the list knows it: from the web folder, from this computer, or both.
struct TTidewellCompany {
    std::string CompanyKey;
    std::string CompanyName;
    TDateTime LatestFileTime = 0;  // newest archive in the web folder; zero when none
    std::int64_t LatestFileSize = 0;
    TDateTime Created = 0;
    std::string LocalPath;         // folder holding default.mdb on this computer; may be empty
    TDateTime LocalModified = 0;   // last-write time of that default.mdb
    TSyncMode SyncMode = smNone;
};

// Entries are shared: rows of the window's list keep the companies they show alive while
// LoadCompanies replaces the account's list (the window repaints during the requests).
using TTidewellCompanyPtr = std::shared_ptr<TTidewellCompany>;

// Sender is the object that reported: the archive component or the HTTP client.
using TTidewellProgressEvent =
    std::function<void(const void* Sender, const std::string& Caption, const std::string& Message,
                       std::int64_t Total, std::int64_t Done, std::uint8_t Percent)>;

// The logged-in account: credentials, what the service reports about it, its companies, and
// the transfers of one company in either direction.
class TTidewellUser {
public:
    TTidewellUser();
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
    std::int64_t TransferSize = 0;
    std::int64_t TransferDone = 0;

    // The service to talk to; empty means the configured one (TIDEWELL_SERVICE_URL or the
    // built-in default).
    std::string ServiceURL;

    // False without a request when the stripped ID or password is blank; raises with the
    // service's MESSAGE when it refuses.
    bool Login(const std::string& UserID, const std::string& Password);
    void RefreshDiskUsage();
    void LoadCompanies();

    int CompanyCount() const { return static_cast<int>(Companies.size()); }
    // Raises for an index outside 0..CompanyCount()-1.
    TTidewellCompanyPtr GetCompany(int Index) const;
    // First entry whose key equals CompanyKey exactly, or -1.
    int IndexOfCompany(const std::string& CompanyKey) const;
    // Appends; the list shares ownership from then on. Returns the new index.
    int AddCompany(TTidewellCompanyPtr Company);
    void DeleteCompany(const std::string& CompanyKey);

    void UploadCompany(const std::string& CompanyKey);
    void DownloadCompany(const std::string& CompanyKey);
    void RegisterLocalCompany(const std::string& CompanyKey, const std::string& CompanyName,
                              const std::string& LocalPath);
    std::string MakeUniqueCompanyName(const std::string& Name);

    // How many times LoadCompanies asks for a company's details while replies carry no STATUS.
    static constexpr int kCompanyInfoTries = 3;

private:
    bool HasCredentials() const;
    std::unique_ptr<TTidewellGateway> NewGateway() const;
    void ReportStage(TBackupFile* sender, const char* caption, const char* message,
                     TPercentage percent);
    void HandleTransferData(HttpClient* Sender, const char* Buffer, std::size_t Len);
    void HandleBackupProgress(TBackupFile* Sender, const std::string& Filename,
                              TPercentage Percent, bool& Continue);
    void HandleRestoreProgress(TBackupFile* Sender, const std::string& Filename,
                               TPercentage Percent, bool& Continue);
    void HandlePrepareProgress(TBackupFile* Sender, const std::string& Filename,
                               TPercentage Percent, bool& Continue);
    // Fetches the newest archive into the work folder; empty when none arrived.
    std::string DownloadArchive(const TTidewellCompany& company);

    std::vector<TTidewellCompanyPtr> Companies;
};

}  // namespace tidewell
