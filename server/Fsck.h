#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DataFolder.h"

namespace tidewell::webfolder {

// Where the index and the archives folder disagree.
struct Inconsistencies {
    std::vector<std::string> strayFiles;  // under archives/, named by no index row
    struct Entry {
        std::int64_t id = 0;
        std::string file;
        std::int64_t size = 0;    // as the index has it
        std::int64_t actual = 0;  // on disk
    };
    std::vector<Entry> lostEntries;  // rows whose file is gone
    std::vector<Entry> resized;      // rows whose file has another size

    std::size_t Count() const { return strayFiles.size() + lostEntries.size() + resized.size(); }
    // One line for the log; empty when all agree.
    std::string Summary() const;
};

// Compares the index with the archives folder; changes nothing.
Inconsistencies FindInconsistencies(const DataFolder& folder);

// Stray files are moved into orphans/ beside the index (kept for the operator to look at),
// rows whose file is gone are dropped and sizes corrected, in one transaction. Only while no
// service serves the folder.
void Repair(const DataFolder& folder, const Inconsistencies& found);

// Removes what unfinished uploads left in uploads/; returns how many.
std::size_t ClearUploads(const DataFolder& folder);

}  // namespace tidewell::webfolder
