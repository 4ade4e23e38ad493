#include "archive/FileSearch.h"

#include <algorithm>
#include <system_error>

#include "platform/FileKit.h"

#include "archive/ArchiveAttribute.h"

namespace fs = std::filesystem;

namespace tidewell::archive {
namespace {

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool HasWildcard(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

bool MatchesExactly(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || LowerChar(pattern[p]) == LowerChar(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

struct FolderEntry {
    std::string name;
    bool isFolder;
};

// Sorted as the home platform's search returns names, so archives come out the same every time.
// A missing or unreadable folder simply holds nothing.
std::vector<FolderEntry> ListFolder(const fs::path& folder) {
    std::vector<FolderEntry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        // Linked folders are not entered: a link to a parent would never end.
        const bool isFolder = it->is_directory(typeError) && !it->is_symlink(typeError);
        const bool isFile = it->is_regular_file(typeError);
        if (isFolder || isFile) entries.push_back({it->path().filename().string(), isFolder});
    }
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const std::string la = LowerAscii(a.name), lb = LowerAscii(b.name);
        return la != lb ? la < lb : a.name < b.name;
    });
    return entries;
}

}  // namespace

bool MatchesPattern(std::string_view pattern, std::string_view name) {
    if (MatchesExactly(pattern, name)) return true;
    return pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
           MatchesExactly(pattern.substr(0, pattern.size() - 2), name);
}

FileListBuilder::FileListBuilder(const std::string& archiveName, bool incremental)
    : incremental_(incremental) {
    std::error_code ec;
    if (!archiveName.empty()) {
        archiveKey_ = LowerAscii(fs::absolute(archiveName, ec).lexically_normal().string());
    }
}

void FileListBuilder::AddEntry(std::string_view entry) {
    std::string text = TrimBlanks(entry);
    // "/s" is only a switch as a word of its own at the end: on this system "/s" also starts
    // every path part whose name begins with "s".
    bool recursive = false;
    const std::size_t size = text.size();
    if (size >= 2 && text[size - 2] == '/' && LowerChar(text[size - 1]) == 's' &&
        (size == 2 || static_cast<unsigned char>(text[size - 3]) <= ' ')) {
        recursive = true;
        text = TrimBlanks(std::string_view(text).substr(0, size - 2));
    }
    if (text.empty()) return;
    const std::size_t slash = text.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : text.substr(0, slash + 1);
    const std::string pattern = slash == std::string::npos ? text : text.substr(slash + 1);
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    if (ec) return;
    AddFolder(absolute.lexically_normal(), pattern, recursive);
}

void FileListBuilder::AddFolder(const fs::path& folder, const std::string& pattern, bool recursive) {
    if (pattern.empty()) return;
    const bool wildcard = HasWildcard(pattern);
    if (!recursive && !wildcard) {
        // A plain name means that very file, in its own spelling, not a case-blind namesake.
        std::error_code ec;
        if (fs::is_regular_file(folder / pattern, ec)) AddFile(folder / pattern);
        return;
    }
    const std::vector<FolderEntry> entries = ListFolder(folder);
    if (recursive) {
        for (const FolderEntry& entry : entries) {
            if (entry.isFolder) AddFolder(folder / entry.name, pattern, true);
        }
    }
    for (const FolderEntry& entry : entries) {
        if (entry.isFolder) continue;
        if (wildcard ? MatchesPattern(pattern, entry.name) : entry.name == pattern) {
            AddFile(folder / entry.name);
        }
    }
}

void FileListBuilder::AddFile(const fs::path& file) {
    std::string key = LowerAscii(TrimBlanks(file.string()));
    if (key == archiveKey_ || keys_.count(key) != 0) return;
    if (incremental_ && !ArchiveFlagSet(file)) return;
    keys_.insert(key);
    files_.push_back({file, std::move(key)});
}

}  // namespace tidewell::archive
