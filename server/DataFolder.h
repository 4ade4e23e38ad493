#pragma once

#include <filesystem>

#include "platform/FileHandle.h"
#include "platform/Sqlite.h"

namespace tidewell::webfolder {

// The service's state under one folder: the index database (accounts, companies, archives),
// the stored archives, and uploads still arriving.
class DataFolder {
public:
    // Creates what is missing and brings the database's tables up; raises Exception when the
    // folder can't be used.
    explicit DataFolder(std::filesystem::path root);

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path DatabaseFile() const { return root_ / "webfolder.db"; }
    std::filesystem::path ArchivesFolder() const { return root_ / "archives"; }
    std::filesystem::path UploadsFolder() const { return root_ / "uploads"; }

    // A new connection; each request thread uses its own.
    SqliteDatabase Open() const;

    // Claims the folder for one serving process (released when the handle closes). Serving
    // repairs files and index at start, which would break the uploads of a second service on
    // the same folder; raises Exception when another one holds it.
    FileHandle ClaimForServing() const;

private:
    std::filesystem::path root_;
};

}  // namespace tidewell::webfolder
