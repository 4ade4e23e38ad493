#pragma once

#include "ArchiveBytes.h"
#include "DataFolder.h"

namespace tidewell::webfolder {

// Archives as files of the data folder: an upload arrives in uploads/, is flushed, and is
// renamed into archives/<company id>/ inside the index's transaction; a download reads the
// file through a handle, which stays readable even if an upload removes the file meanwhile.
class FolderBytes : public ArchiveBytes {
public:
    explicit FolderBytes(const DataFolder& folder);

    Charges Charging() const override { return charges_; }
    std::unique_ptr<ArchiveWriter> NewWriter(std::int64_t accountId,
                                             const std::string& name) override;
    std::shared_ptr<ArchiveReader> Open(const StoredArchive& archive) override;
    void Release(const Released& released) override;

private:
    const DataFolder& folder_;
    Charges charges_;
};

}  // namespace tidewell::webfolder
