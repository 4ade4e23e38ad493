#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"
#include "platform/FileKit.h"

namespace tidewell {

class RegistryKey;
class SettingsHive;

// The program's own key in the current user's settings.
inline constexpr const char* kProgramKey = "Software\\QuenlowBarcode\\Tidewell";
// Slots 00..99 hold the companies registered on this computer.
inline constexpr int kCompanySlotCount = 100;

// "Company" + slot as two digits (three above 99) + field: CompanySlotValue(5, "Path") is
// "Company05Path".
std::string CompanySlotValue(int slot, std::string_view field);

// What both sides held when they last agreed (after a transfer in either direction).
struct TAgreedState {
    TDateTime Time = 0;   // the data's time; zero: no agreement is known
    FileSignature Local;  // the local database just then; size -1 when not recorded
    std::string Archive;  // the web folder's newest archive just then, by name; empty: not recorded
    std::int64_t ArchiveSize = -1;
    bool operator==(const TAgreedState&) const = default;
};

// Every value of a slot: Key, Name, Path and the agreed state (Synced: the time as
// yyyymmddhhnnss; SyncedFile: "nanoseconds,size" of the local database; SyncedArchive:
// "name,size" of the web folder's archive).
inline constexpr const char* kCompanySlotFields[] = {"Key",    "Name",       "Path",
                                                     "Synced", "SyncedFile", "SyncedArchive"};
// The agreed state of a slot; what is absent or unreadable reads as not recorded.
TAgreedState ReadSlotSynced(const RegistryKey& key, int slot);

// One company as its slot registers it.
struct TCompanySlot {
    int Slot = -1;
    std::string CompanyKey;
    std::string CompanyName;
    std::string LocalPath;
    TAgreedState Synced;
};

// The companies registered on this computer: slots 00..99 of the program key. This is the only
// code that reads or writes a slot's values. A slot is in use when its Path value exists;
// removing one leaves the other slots where they are, so gaps are normal. Every change is one
// transaction of the settings.
class CompanyRegistry {
public:
    explicit CompanyRegistry(SettingsHive& hive);

    // The slots with a name and a path, in slot order; the program key is made when missing. A
    // value that is not text reads as empty. Raises Exception when the settings can't be read.
    std::vector<TCompanySlot> Load();
    // Writes the key a slot without one was found to have.
    void StoreKey(int slot, const std::string& companyKey);

    // The rule for a folder the user adds: the lowest slot whose Path is free, counting from 00.
    // The slot it took, or nullopt when all are taken (nothing is written then).
    std::optional<int> AddAtLowestFree(const std::string& companyKey, const std::string& name,
                                       const std::string& path);
    // The rule for a folder a download filled: none when the path is registered already (its
    // agreed state is recorded there instead); else the slot after the highest in use, or 01
    // when none is, or past 99 the lowest free one. The name is made unique among the host
    // product's companies. Nothing happens when the program key is missing.
    void AddAfterHighest(const std::string& companyKey, const std::string& name,
                         const std::string& path, const TAgreedState& synced);
    // Deletes every slot that registers path for companyKey (exact comparisons); how many went.
    int Remove(const std::string& companyKey, const std::string& path);
    // Records the agreed state in every slot that registers path for companyKey; false when
    // none does (or the program key is missing).
    bool RecordSynced(const std::string& companyKey, const std::string& path,
                      const TAgreedState& state);
    // The shutdown rewrite: slots 00..99 are cleared and listed is written packed from 00, in
    // its order (entries without a key or a folder are passed over). A company in unseen (a
    // registered folder that this run could not look at) keeps a slot after them unless listed
    // gives its key a folder.
    void Rewrite(const std::vector<TCompanySlot>& listed, const std::vector<TCompanySlot>& unseen);

    // A folder renamed or moved from `from` to `to`: every slot that registers it, or a folder
    // inside it, follows to the new place (the agreed state stays: the data did not change).
    // How many slots changed.
    int Repath(const std::string& from, const std::string& to);

    // The slots that register folder, in slot order; nothing when the program key is missing.
    std::vector<TCompanySlot> RegisteredAt(const std::string& folder);
    // The names of the registered companies, in slot order.
    std::vector<std::string> Names();

private:
    SettingsHive& hive_;
};

}  // namespace tidewell
