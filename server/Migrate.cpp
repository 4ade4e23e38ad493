#include "Migrate.h"

#include <fcntl.h>
#include <unistd.h>

#include <unordered_map>
#include <vector>

#include "DataFolder.h"
#include "DistributedBackend.h"
#include "SqliteIndex.h"
#include "platform/FileHandle.h"

namespace tidewell::webfolder {
namespace {

PgIndex::Import ReadFolder(const DataFolder& folder) {
    PgIndex::Import import;
    auto lease = folder.Database();
    SqliteDatabase& db = *lease;
    SqliteTransaction snapshot(db, "BEGIN");
    for (auto rows =
             db.Prepare(std::string("SELECT ") + kAccountColumns + " FROM accounts ORDER BY id");
         rows.Step();) {
        import.accounts.push_back(ReadAccount(rows));
    }
    for (auto rows = db.Prepare(
             "SELECT id, account_id, company_key, name, created FROM companies ORDER BY id");
         rows.Step();) {
        import.companies.push_back({rows.ColumnInt(0), rows.ColumnInt(1), rows.ColumnText(2),
                                    rows.ColumnText(3), rows.ColumnInt(4)});
    }
    for (auto rows = db.Prepare(
             "SELECT a.id, a.company_id, a.name, a.file, a.size, a.stored, c.account_id FROM "
             "archives a JOIN companies c ON a.company_id = c.id ORDER BY a.id");
         rows.Step();) {
        // The file for now; the object's key once it is up.
        import.archives.push_back({rows.ColumnInt(0), rows.ColumnInt(1), rows.ColumnText(2),
                                   rows.ColumnText(3), rows.ColumnInt(4), rows.ColumnInt(5)});
    }
    return import;
}

// Sends one archive file through a writer, a piece at a time; returns the object's key. Once
// placed, the object stays when the writer goes: the ledger's entry decides its fate, and the
// index's import ends the entry.
std::string Upload(ArchiveBytes& bytes, std::int64_t accountId,
                   const PgIndex::Import::Archive& archive, const std::filesystem::path& file) {
    const FileHandle in(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in) throw Exception("cannot read " + file.string());
    auto writer = bytes.NewWriter(accountId, archive.name);
    std::vector<char> buffer(1 << 20);
    while (true) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0) throw Exception("cannot read " + file.string());
        if (got == 0) break;
        writer->Write(buffer.data(), static_cast<std::size_t>(got));
    }
    if (writer->Size() != archive.size) {
        throw Exception(file.string() + " holds " + std::to_string(writer->Size()) +
                        " bytes where the index says " + std::to_string(archive.size) +
                        "; run `tidewell-webfolder fsck` on the data folder first");
    }
    writer->Seal();
    return writer->Place(0);
}

}  // namespace

MigrateResult MigrateDataFolder(const std::filesystem::path& dataFolder,
                                const StoreLocation& target,
                                const std::function<void(const std::string&)>& progress) {
    const DataFolder folder(dataFolder);
    // A service writing meanwhile would make the copy a mix of two moments.
    const FileHandle claim = folder.ClaimForServing();
    PgIndex::Import import = ReadFolder(folder);

    DistributedBackend backend(target, BackendTuning{});
    if (backend.Pg().HoldsAccounts()) {
        throw Exception("the index " + target.index +
                        " holds accounts already; move a data folder only into an empty one");
    }
    std::unordered_map<std::int64_t, std::int64_t> accountOf;
    for (const auto& company : import.companies) accountOf[company.id] = company.accountId;
    MigrateResult result;
    std::vector<std::string> uploaded;
    try {
        for (auto& archive : import.archives) {
            const std::filesystem::path file = folder.ArchivesFolder() / archive.object;
            archive.object = Upload(backend.Bytes(), accountOf[archive.companyId], archive, file);
            uploaded.push_back(archive.object);
            ++result.archives;
            result.bytes += archive.size;
            progress("archive " + std::to_string(result.archives) + " of " +
                     std::to_string(import.archives.size()) + ": " + file.string());
        }
    } catch (...) {
        // Nothing names them: they go at once (the sweep would, later).
        try {
            for (const auto& key : uploaded) backend.Objects().Client().DeleteObject(key);
            backend.Pg().Forget(uploaded);
        } catch (const std::exception&) {
        }
        throw;
    }
    // Should this fail, whether the index took them is not known: the ledger keeps the objects
    // until the index names them or the sweep removes them.
    backend.Pg().ImportAll(import);
    result.accounts = import.accounts.size();
    result.companies = import.companies.size();
    return result;
}

}  // namespace tidewell::webfolder
