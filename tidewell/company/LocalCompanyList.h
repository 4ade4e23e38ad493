#pragma once

#include <string>
#include <vector>

#include "company/CompanyRegistry.h"
#include "platform/DateTime.h"
#include "platform/FileKit.h"

namespace tidewell {

// One company registered on this computer.
struct TLocalCompanyListItem {
    std::string CompanyKey;  // never empty
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
    explicit TLocalCompanyList(CompanyRegistry& registry) : registry_(registry) {}

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

private:
    CompanyRegistry& registry_;
};

}  // namespace tidewell
