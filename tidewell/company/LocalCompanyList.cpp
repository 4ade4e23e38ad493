#include "company/LocalCompanyList.h"

#include <cstdio>
#include <optional>

#include "company/Common.h"
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

void TLocalCompanyList::Load() {
    Items.clear();
    std::optional<RegistryKey> key;
    try {
        key = CurrentUserHive().OpenKey(kProgramKey, true);
    } catch (const Exception&) {
        return;  // settings that can't be opened: no local companies
    }
    if (!key) return;

    for (int slot = 0; slot < kCompanySlotCount; ++slot) {
        const std::string keyValue = CompanySlotValue(slot, "Key");
        TLocalCompanyListItem item;
        item.CompanyKey = ReadSlotText(*key, keyValue);
        item.CompanyName = ReadSlotText(*key, CompanySlotValue(slot, "Name"));
        item.LocalPath = ReadSlotText(*key, CompanySlotValue(slot, "Path"));
        if (item.CompanyName.empty() || item.LocalPath.empty()) continue;
        const std::string database = CompanyDatabaseFile(item.LocalPath);
        if (!FileExists(database)) continue;
        if (item.CompanyKey.empty()) {
            item.CompanyKey = EnsureCompanyKey(item.LocalPath);
            key->WriteString(keyValue, item.CompanyKey);
        }
        // Another company's database now in the folder, or a key that could not be stored.
        if (ReadCompanyKey(item.LocalPath) != item.CompanyKey) continue;
        if (!GetFileModifiedTime(database, item.LocalModified)) item.LocalModified = 0;
        Items.push_back(std::move(item));
    }
}

}  // namespace tidewell
