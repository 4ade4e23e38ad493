#include "ArchiveStore.h"

#include "platform/Error.h"

namespace tidewell::webfolder {

ArchiveStore::ArchiveStore(ArchiveIndex& index, ArchiveBytes& bytes, StoreRules rules)
    : index_(index), bytes_(bytes), rules_(rules), charges_(bytes.Charging()) {}

UploadQuery ArchiveStore::Query(std::int64_t accountId, std::string_view key,
                                std::string_view name) const {
    return {accountId, std::string(key), std::string(name), rules_, charges_};
}

std::int64_t ArchiveStore::DiskUsed(std::int64_t accountId) const {
    return index_.DiskUsed(accountId, charges_);
}

std::vector<std::string> ArchiveStore::CompanyKeys(std::int64_t accountId) const {
    return index_.CompanyKeys(accountId);
}

std::optional<CompanyInfo> ArchiveStore::FindCompany(std::int64_t accountId,
                                                     std::string_view key) const {
    return index_.FindCompany(accountId, key);
}

bool ArchiveStore::DeleteCompany(std::int64_t accountId, std::string_view key) const {
    const auto released = index_.DeleteCompany(accountId, key);
    if (!released) return false;
    bytes_.Release(*released);
    return true;
}

std::optional<OpenedArchive> ArchiveStore::OpenLatest(std::int64_t accountId,
                                                      std::string_view key) const {
    // An upload may drop the archive between reading the index and opening its bytes; the
    // index then names a newer one, so look again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto latest = index_.LatestArchive(accountId, key);
        if (!latest) return std::nullopt;
        if (auto reader = bytes_.Open(*latest)) {
            return OpenedArchive{latest->name, reader->Size(), std::move(reader)};
        }
    }
    throw Exception("the newest archive keeps disappearing");
}

UploadRoom ArchiveStore::RoomFor(const Account& account, std::string_view key,
                                 std::string_view name) const {
    const UploadDecision decision = index_.WeighUpload(Query(account.id, key, name), account.quota);
    if (decision.verdict != UploadVerdict::Accepted) return {decision.verdict, 0, false};
    // The largest archive whose cost fits the room.
    const std::int64_t maxBytes =
        (decision.room - kIndexRowCharge) / charges_.block * charges_.block;
    if (maxBytes <= 0) return {UploadVerdict::QuotaExceeded, 0, false};
    return {UploadVerdict::Accepted, maxBytes, decision.newCompany};
}

std::unique_ptr<ArchiveWriter> ArchiveStore::NewWriter(std::int64_t accountId,
                                                       const std::string& name) const {
    return bytes_.NewWriter(accountId, name);
}

UploadVerdict ArchiveStore::Store(std::int64_t accountId, const NewArchive& archive,
                                  ArchiveWriter& writer, std::int64_t now) const {
    const StoreOutcome outcome = index_.StoreArchive(
        Query(accountId, archive.companyKey, archive.name), archive, writer.Size(), now,
        [&writer](std::int64_t companyId) { return writer.Place(companyId); });
    if (outcome.verdict != UploadVerdict::Accepted) return outcome.verdict;
    writer.Kept();
    bytes_.Release(outcome.released);
    return UploadVerdict::Accepted;
}

PruneResult ArchiveStore::Prune(const PruneRules& rules) const {
    if (rules.keep && *rules.keep == 0) {
        throw Exception("prune must keep at least one archive of each company");
    }
    return index_.Prune(rules, [this](const Released& released) { bytes_.Release(released); });
}

}  // namespace tidewell::webfolder
