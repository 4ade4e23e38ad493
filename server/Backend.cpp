#include "Backend.h"

#include "DataFolder.h"
#include "FolderBytes.h"
#include "Fsck.h"
#include "SqliteIndex.h"

namespace tidewell::webfolder {

std::unique_ptr<Backend> OpenDistributedBackend(const StoreLocation& location,
                                                const BackendTuning& tuning);

namespace {

// The embedded default: the data folder's SQLite index and the files beside it.
class EmbeddedBackend : public Backend {
public:
    EmbeddedBackend(const std::filesystem::path& root, std::size_t connections)
        : folder_(root, connections), index_(folder_), bytes_(folder_) {}

    ArchiveIndex& Index() override { return index_; }
    ArchiveBytes& Bytes() override { return bytes_; }
    std::unique_ptr<LoginThrottle> MakeThrottle() override {
        return std::make_unique<LoginGuard>();
    }

    void PrepareToServe(const std::function<void(const std::string&)>& log) override {
        // Serving clears uploads/ at start, which would break the uploads of a second service
        // on the same folder.
        claim_ = folder_.ClaimForServing();
        if (const int tightened = folder_.ModesTightened(); tightened > 0) {
            log("tidewell-webfolder: made " + std::to_string(tightened) +
                " files and folders private to the service's user");
        }
        if (const std::size_t spooled = ClearUploads(folder_); spooled > 0) {
            log("tidewell-webfolder: removed " + std::to_string(spooled) + " unfinished uploads");
        }
        // Only told: whatever the index and the folder disagree on waits for the operator's fsck.
        if (const std::string summary = FindInconsistencies(folder_).Summary(); !summary.empty()) {
            log("tidewell-webfolder: warning: " + summary +
                "; see `tidewell-webfolder fsck --data " + folder_.Root().string() + "`");
        }
    }

private:
    DataFolder folder_;
    SqliteIndex index_;
    FolderBytes bytes_;
    FileHandle claim_;
};

}  // namespace

std::string StoreLocation::Describe() const {
    if (!Distributed()) return dataFolder.string();
    return index + " and " + archives;
}

std::unique_ptr<Backend> OpenBackend(const StoreLocation& location, const BackendTuning& tuning) {
    if (location.Distributed()) return OpenDistributedBackend(location, tuning);
    return std::make_unique<EmbeddedBackend>(location.dataFolder, tuning.connections);
}

}  // namespace tidewell::webfolder
