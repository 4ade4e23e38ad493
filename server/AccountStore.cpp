#include "AccountStore.h"

namespace tidewell::webfolder {

bool AccountStore::Save(const AccountSettings& settings, std::int64_t now, int iterations) const {
    CheckAccountSettings(settings, now);
    return index_.SaveAccount(
        {settings.userId, settings.name, HashPassword(settings.password, iterations),
         ExpireAtFor(settings, now), settings.quota},
        now);
}

}  // namespace tidewell::webfolder
