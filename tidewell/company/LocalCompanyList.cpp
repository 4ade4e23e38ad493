#include "company/LocalCompanyList.h"

#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

#include "company/Common.h"
#include "platform/DateTime.h"
#include "platform/SettingsHive.h"

namespace tidewell {
namespace {

// A slot value that holds something other than text (written by hand, or by a damaged
// program) counts as absent rather than ending the whole list.
std::string ReadSlotText(const RegistryKey& key, const std::string& name) {
    try {
        return key.ReadString(name);
    } catch (const Exception&) {
        return {};
    }
}

// A whole decimal number, or nothing.
std::optional<std::int64_t> ReadNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// "text,number" as its two parts, split at the last comma (a name may hold commas itself).
std::optional<std::pair<std::string, std::int64_t>> SplitAtLastComma(const std::string& value) {
    const std::size_t comma = value.rfind(',');
    if (comma == std::string::npos) return std::nullopt;
    const auto number = ReadNumber(value.substr(comma + 1));
    if (!number) return std::nullopt;
    return std::pair{value.substr(0, comma), *number};
}

}  // namespace

std::string CompanySlotValue(int slot, std::string_view field) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", slot);
    return "Company" + std::string(number) + std::string(field);
}

TAgreedState ReadSlotSynced(const RegistryKey& key, int slot) {
    TAgreedState state;
    const auto time = ArchiveTimeToDateTime(ReadSlotText(key, CompanySlotValue(slot, "Synced")));
    if (!time) return state;
    state.Time = *time;
    if (const auto file =
            SplitAtLastComma(ReadSlotText(key, CompanySlotValue(slot, "SyncedFile")))) {
        const auto modified = ReadNumber(file->first);
        if (modified && file->second >= 0) state.Local = {*modified, file->second};
    }
    if (const auto archive =
            SplitAtLastComma(ReadSlotText(key, CompanySlotValue(slot, "SyncedArchive")))) {
        if (!archive->first.empty() && archive->second >= 0) {
            state.Archive = archive->first;
            state.ArchiveSize = archive->second;
        }
    }
    return state;
}

void WriteSlotSynced(RegistryKey& key, int slot, const TAgreedState& synced) {
    const std::string time = CompanySlotValue(slot, "Synced");
    const std::string file = CompanySlotValue(slot, "SyncedFile");
    const std::string archive = CompanySlotValue(slot, "SyncedArchive");
    if (synced.Time <= 0) {
        for (const std::string& name : {time, file, archive}) key.DeleteValue(name);
        return;
    }
    key.WriteString(time, FormatDateTime("yyyymmddhhnnss", synced.Time));
    if (synced.Local.size >= 0) {
        key.WriteString(file, std::to_string(synced.Local.modifiedNs) + "," +
                                  std::to_string(synced.Local.size));
    } else {
        key.DeleteValue(file);
    }
    if (!synced.Archive.empty() && synced.ArchiveSize >= 0) {
        key.WriteString(archive, synced.Archive + "," + std::to_string(synced.ArchiveSize));
    } else {
        key.DeleteValue(archive);
    }
}

bool RecordCompanySynced(RegistryKey& key, const std::string& companyKey, const std::string& path,
                         const TAgreedState& state) {
    bool recorded = false;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        if (ReadSlotText(key, CompanySlotValue(slot, "Path")) != path ||
            ReadSlotText(key, CompanySlotValue(slot, "Key")) != companyKey) {
            continue;
        }
        WriteSlotSynced(key, slot, state);
        recorded = true;
    }
    return recorded;
}

void TLocalCompanyList::Load() {
    Items.clear();
    Skipped.clear();
    SettingsReadable = true;
    std::optional<RegistryKey> key;
    try {
        key = CurrentUserHive().OpenKey(kProgramKey, true);
    } catch (const Exception&) {
        SettingsReadable = false;  // no local companies this time; the stored ones stay
        return;
    }
    if (!key) return;

    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        TLocalCompanyListItem item;
        const std::string keyValue = CompanySlotValue(slot, "Key");
        try {
            item.CompanyKey = ReadSlotText(*key, keyValue);
            item.CompanyName = ReadSlotText(*key, CompanySlotValue(slot, "Name"));
            item.LocalPath = ReadSlotText(*key, CompanySlotValue(slot, "Path"));
        } catch (const Exception&) {
            SettingsReadable = false;
            return;
        }
        if (item.CompanyName.empty() || item.LocalPath.empty()) continue;
        item.Synced = ReadSlotSynced(*key, slot);
        auto skip = [&](TSkippedCompanySlot::TReason reason, std::string detail = {}) {
            Skipped.push_back({reason, item.CompanyKey, item.CompanyName, item.LocalPath,
                               std::move(detail), item.Synced});
        };
        if (!FileExists(CompanyDatabaseFile(item.LocalPath))) {
            skip(TSkippedCompanySlot::srMissing);
            continue;
        }
        try {
            if (item.CompanyKey.empty()) {
                item.CompanyKey = EnsureCompanyKey(item.LocalPath);
                key->WriteString(keyValue, item.CompanyKey);
            }
        } catch (const std::exception& error) {
            skip(TSkippedCompanySlot::srDamaged, error.what());
            continue;
        }
        // Another company's database now in the folder, or a key that could not be stored;
        // or no key to be read at all, because the database is damaged.
        if (ReadCompanyKey(item.LocalPath) != item.CompanyKey) {
            try {
                OpenCompanyQuery(item.LocalPath, "select count(*) from sqlite_master");
                skip(TSkippedCompanySlot::srOtherCompany);
            } catch (const std::exception& error) {
                skip(TSkippedCompanySlot::srDamaged, error.what());
            }
            continue;
        }
        if (!GetCompanyDatabaseTime(item.LocalPath, item.LocalModified)) item.LocalModified = 0;
        item.LocalFile = DatabaseSignature(CompanyDatabaseFile(item.LocalPath));
        Items.push_back(std::move(item));
    }
}

}  // namespace tidewell
