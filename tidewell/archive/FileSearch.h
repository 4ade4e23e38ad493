#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/FileKit.h"

namespace tidewell::archive {

struct ListedFile {
    std::filesystem::path path;  // as the file system spells it: files are opened by this
    std::string name;            // lower-cased: the stored name and the key against duplicates
};

// Expands the caller's entries into the distinct files to pack. An entry is a file name or a
// pattern with "*" and "?" in its last part, optionally followed by " /s" to search every
// subfolder too (deepest files first, each folder's own files after all its subfolders).
class FileListBuilder {
public:
    // archiveName is never listed, so an archive never packs itself; bmIncremental passes
    // incremental, which keeps only files whose archive flag is set.
    FileListBuilder(const std::string& archiveName, bool incremental);
    void AddEntry(std::string_view entry);
    const std::vector<ListedFile>& Files() const { return files_; }

private:
    void AddFolder(const std::filesystem::path& folder, const std::string& pattern, bool recursive);
    void AddFile(const std::filesystem::path& file);

    std::string archiveKey_;
    bool incremental_;
    std::vector<ListedFile> files_;
    std::unordered_set<std::string> keys_;
};

// Names match case-insensitively, as the directory search of the archive's home platform does;
// "x.*" also matches "x", so "*.*" matches every name.
bool MatchesPattern(std::string_view pattern, std::string_view name);
// Stored names are lower-cased as the platform kit does it.
using tidewell::LowerAscii;

}  // namespace tidewell::archive
