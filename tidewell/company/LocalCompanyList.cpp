#include "company/LocalCompanyList.h"

#include <utility>

#include "company/Common.h"
#include "platform/DateTime.h"

namespace tidewell {

void TLocalCompanyList::Load() {
    Items.clear();
    Skipped.clear();
    SettingsReadable = true;
    std::vector<TCompanySlot> slots;
    try {
        slots = registry_.Load();
    } catch (const std::exception&) {
        SettingsReadable = false;  // no local companies this time; the stored ones stay
        return;
    }

    for (const TCompanySlot& slot : slots) {
        TLocalCompanyListItem item;
        item.CompanyKey = slot.CompanyKey;
        item.CompanyName = slot.CompanyName;
        item.LocalPath = slot.LocalPath;
        item.Synced = slot.Synced;
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
                registry_.StoreKey(slot.Slot, item.CompanyKey);
            }
        } catch (const std::exception& error) {
            skip(TSkippedCompanySlot::srDamaged, error.what());
            continue;
        }
        // Another company's database now in the folder, or a key that could not be stored;
        // or no key to be read at all, because the database is damaged.
        if (ReadCompanyKey(item.LocalPath) != item.CompanyKey) {
            const std::string problem = CompanyDatabaseProblem(item.LocalPath);
            if (problem.empty()) {
                skip(TSkippedCompanySlot::srOtherCompany);
            } else {
                skip(TSkippedCompanySlot::srDamaged, problem);
            }
            continue;
        }
        if (!GetCompanyDatabaseTime(item.LocalPath, item.LocalModified)) item.LocalModified = 0;
        item.LocalFile = DatabaseSignature(CompanyDatabaseFile(item.LocalPath));
        Items.push_back(std::move(item));
    }
}

}  // namespace tidewell
