#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"
#include "platform/FileKit.h"

namespace tidewell {

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

class RegistryKey;
// Every value of a slot: Key, Name, Path and the agreed state (Synced: the time as
// yyyymmddhhnnss; SyncedFile: "nanoseconds,size" of the local database; SyncedArchive:
// "name,size" of the web folder's archive).
inline constexpr const char* kCompanySlotFields[] = {"Key",    "Name",       "Path",
                                                     "Synced", "SyncedFile", "SyncedArchive"};
// The agreed state of a slot; what is absent or unreadable reads as not recorded.
TAgreedState ReadSlotSynced(const RegistryKey& key, int slot);
// Writes it; a state without a time removes every agreed value of the slot.
void WriteSlotSynced(RegistryKey& key, int slot, const TAgreedState& synced);
// Records the state as agreed for every slot that registers path for companyKey; true when one did.
bool RecordCompanySynced(RegistryKey& key, const std::string& companyKey, const std::string& path,
                         const TAgreedState& state);

// One company registered on this computer.
struct TLocalCompanyListItem {
    std::string CompanyKey;       // never empty
    std::string CompanyName;
    std::string LocalPath;        // the folder that holds default.mdb, as registered
    TDateTime LocalModified = 0;  // last-write time of default.mdb; zero when unreadable
    FileSignature LocalFile;      // how default.mdb looks now (see DatabaseSignature)
    TAgreedState Synced;          // what both sides last agreed on
};

// A registered company that Load did not list, and why.
struct TSkippedCompanySlot {
    enum TReason {
        srMissing,       // the folder or its default.mdb is not there now (an unplugged drive)
        srDamaged,       // the slot or the database could not be read
        srOtherCompany,  // the folder holds another company's database now
    };
    TReason Reason = srMissing;
    std::string CompanyKey;
    std::string CompanyName;
    std::string LocalPath;
    std::string Detail;  // what went wrong, for srDamaged
    TAgreedState Synced;
};

// The registered companies whose folder still holds a database with the registered key, in
// slot order. Meant to live for one rebuild of the company list.
class TLocalCompanyList {
public:
    std::vector<TLocalCompanyListItem> Items;
    std::vector<TSkippedCompanySlot> Skipped;  // slots with a name and a path that were passed over
    bool SettingsReadable = true;              // false: the settings could not be read at all

    // Reads slots 00..99 again. A slot without a key gets the database's key (made there when
    // it has none) written back; nothing else in the settings changes. A slot whose database
    // can't be read is passed over (see Skipped), never the whole list.
    void Load();
    int Count() const { return static_cast<int>(Items.size()); }
    // Index must be in 0..Count()-1.
    void GetItem(int Index, TLocalCompanyListItem& Item) const { Item = Items.at(Index); }
};

}  // namespace tidewell
