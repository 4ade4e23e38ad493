#include "company/LocalCompanyList.h"

#include <cstdio>
#include <optional>

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

}  // namespace

std::string CompanySlotValue(int slot, std::string_view field) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", slot);
    return "Company" + std::string(number) + std::string(field);
}

TDateTime ReadSlotSynced(const RegistryKey& key, int slot) {
    const auto time = ArchiveTimeToDateTime(ReadSlotText(key, CompanySlotValue(slot, "Synced")));
    return time.value_or(0);
}

void WriteSlotSynced(RegistryKey& key, int slot, TDateTime synced) {
    const std::string name = CompanySlotValue(slot, "Synced");
    if (synced > 0) {
        key.WriteString(name, FormatDateTime("yyyymmddhhnnss", synced));
    } else {
        key.DeleteValue(name);
    }
}

bool RecordCompanySynced(RegistryKey& key, const std::string& companyKey, const std::string& path,
                         TDateTime time) {
    bool recorded = false;
    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        if (ReadSlotText(key, CompanySlotValue(slot, "Path")) != path ||
            ReadSlotText(key, CompanySlotValue(slot, "Key")) != companyKey) {
            continue;
        }
        WriteSlotSynced(key, slot, time);
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
        Items.push_back(std::move(item));
    }
}

}  // namespace tidewell
