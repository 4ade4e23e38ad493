#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Account.h"
#include "ArchiveBytes.h"
#include "ArchiveIndex.h"

namespace tidewell::webfolder {

// An archive opened for a download.
struct OpenedArchive {
    std::string name;
    std::int64_t size = 0;
    std::shared_ptr<ArchiveReader> reader;
};

struct UploadRoom {
    UploadVerdict verdict = UploadVerdict::Accepted;
    std::int64_t maxBytes = 0;  // how large the archive may be when accepted
    bool newCompany = false;    // the upload would create the company
};

// Companies and their archives: the index and the store of the archives' bytes, kept in step.
// An archive's bytes are in place before the index names them and removed only after the
// index has let them go, so a crash leaves at most bytes the index does not name.
class ArchiveStore {
public:
    ArchiveStore(ArchiveIndex& index, ArchiveBytes& bytes, StoreRules rules = {});

    const StoreRules& Rules() const { return rules_; }
    // What an archive of this many bytes is charged.
    std::int64_t Cost(std::int64_t size) const { return charges_.Cost(size); }

    std::int64_t DiskUsed(std::int64_t accountId) const;
    // Company keys in the order the companies were first stored.
    std::vector<std::string> CompanyKeys(std::int64_t accountId) const;
    std::optional<CompanyInfo> FindCompany(std::int64_t accountId, std::string_view key) const;
    // Removes the company, its archives and their bytes; false when there was no such company.
    bool DeleteCompany(std::int64_t accountId, std::string_view key) const;
    // The company's newest archive; nullopt when it has none.
    std::optional<OpenedArchive> OpenLatest(std::int64_t accountId, std::string_view key) const;

    // Decided before the first byte arrives, so a refused upload never reaches the store.
    UploadRoom RoomFor(const Account& account, std::string_view key, std::string_view name) const;
    // Where the upload's bytes go until Store.
    std::unique_ptr<ArchiveWriter> NewWriter(std::int64_t accountId, const std::string& name) const;
    // Checks again with the account held (other uploads may have come first), then names the
    // sealed bytes, creating the company on its first archive and dropping archives beyond the
    // newest.
    UploadVerdict Store(std::int64_t accountId, const NewArchive& archive, ArchiveWriter& writer,
                        std::int64_t now) const;

    // Removes the archives the rules name, from the index and then from the store.
    PruneResult Prune(const PruneRules& rules) const;

private:
    UploadQuery Query(std::int64_t accountId, std::string_view key, std::string_view name) const;

    ArchiveIndex& index_;
    ArchiveBytes& bytes_;
    StoreRules rules_;
    Charges charges_;
};

}  // namespace tidewell::webfolder
