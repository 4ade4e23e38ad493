#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace tidewell {

// The program's own key in the current user's settings.
inline constexpr const char* kProgramKey = "Software\\QuenlowBarcode\\Tidewell";
// Slots 00..99 hold the companies registered on this computer.
inline constexpr int kCompanySlotCount = 100;

// "Company" + slot as two digits (three above 99) + field: CompanySlotValue(5, "Path") is
// "Company05Path".
std::string CompanySlotValue(int slot, std::string_view field);

class RegistryKey;
// Every value of a slot: Key, Name, Path and Synced (the time both sides last agreed on).
inline constexpr const char* kCompanySlotFields[] = {"Key", "Name", "Path", "Synced"};
// The Synced value: the time as yyyymmddhhnnss, zero when absent or unreadable.
TDateTime ReadSlotSynced(const RegistryKey& key, int slot);
void WriteSlotSynced(RegistryKey& key, int slot, TDateTime synced);
// Records time as agreed for every slot that registers path for companyKey; true when one did.
bool RecordCompanySynced(RegistryKey& key, const std::string& companyKey, const std::string& path,
                         TDateTime time);

// One company registered on this computer.
struct TLocalCompanyListItem {
    std::string CompanyKey;       // never empty
    std::string CompanyName;
    std::string LocalPath;        // the folder that holds default.mdb, as registered
    TDateTime LocalModified = 0;  // last-write time of default.mdb; zero when unreadable
    TDateTime Synced = 0;         // the time both sides last agreed on; zero when unknown
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
    TDateTime Synced = 0;
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
