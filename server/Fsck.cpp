#include "Fsck.h"

#include <sys/stat.h>

#include <set>

#include "platform/Error.h"

namespace fs = std::filesystem;

namespace tidewell::webfolder {

std::string Inconsistencies::Summary() const {
    if (Count() == 0) return {};
    return std::to_string(strayFiles.size()) + " files the index does not name, " +
           std::to_string(lostEntries.size()) + " index entries whose file is gone, " +
           std::to_string(resized.size()) + " of another size";
}

Inconsistencies FindInconsistencies(const DataFolder& folder) {
    Inconsistencies found;
    std::set<std::string> named;
    {
        auto lease = folder.Database();
        SqliteDatabase& db = *lease;
        SqliteTransaction snapshot(db, "BEGIN");
        for (auto list = db.Prepare("SELECT id, file, size FROM archives ORDER BY id");
             list.Step();) {
            Inconsistencies::Entry entry{list.ColumnInt(0), list.ColumnText(1), list.ColumnInt(2),
                                         0};
            named.insert(entry.file);
            struct stat st {};
            const fs::path path = folder.ArchivesFolder() / entry.file;
            if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                found.lostEntries.push_back(std::move(entry));
            } else if (st.st_size != entry.size) {
                entry.actual = st.st_size;
                found.resized.push_back(std::move(entry));
            }
        }
    }
    std::error_code ignored;
    for (const auto& company : fs::directory_iterator(folder.ArchivesFolder(), ignored)) {
        const std::string name = company.path().filename().string();
        if (name == DataFolder::kArchivesMark) continue;
        if (!company.is_directory(ignored) || company.is_symlink(ignored)) {
            found.strayFiles.push_back(name);
            continue;
        }
        for (const auto& entry : fs::directory_iterator(company.path(), ignored)) {
            const std::string relative = name + "/" + entry.path().filename().string();
            if (named.count(relative) == 0) found.strayFiles.push_back(relative);
        }
    }
    return found;
}

void Repair(const DataFolder& folder, const Inconsistencies& found) {
    const fs::path orphans = folder.Root() / "orphans";
    for (const std::string& file : found.strayFiles) {
        const fs::path target = orphans / file;
        fs::create_directories(target.parent_path());
        fs::rename(folder.ArchivesFolder() / file, target);
    }
    auto lease = folder.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction transaction(db);
    for (const auto& entry : found.lostEntries) {
        db.Prepare("DELETE FROM archives WHERE id = ?").Bind(1, entry.id).Run();
    }
    for (const auto& entry : found.resized) {
        db.Prepare("UPDATE archives SET size = ? WHERE id = ?")
            .Bind(1, entry.actual)
            .Bind(2, entry.id)
            .Run();
    }
    transaction.Commit();
}

std::size_t ClearUploads(const DataFolder& folder) {
    std::size_t removed = 0;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder.UploadsFolder(), ignored)) {
        fs::remove_all(entry.path(), ignored);
        ++removed;
    }
    return removed;
}

}  // namespace tidewell::webfolder
