#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DistributedBackend.h"

namespace tidewell::webfolder {

// Where the index and the object store disagree. Found by walking the store, which only this
// operator's command does; each finding is checked again on its own before it is reported, so
// uploads and prunes of running instances never show as differences.
struct ObjectInconsistencies {
    std::vector<std::string> strays;  // objects under archives/ that neither index nor ledger knows
    std::vector<S3Upload> strayUploads;  // unfinished multipart uploads the ledger does not know
    struct Entry {
        std::string object;
        std::int64_t size = 0;    // as the index has it
        std::int64_t actual = 0;  // in the store
    };
    std::vector<Entry> lost;     // archives whose object is gone
    std::vector<Entry> resized;  // archives whose object has another size

    std::size_t Count() const {
        return strays.size() + strayUploads.size() + lost.size() + resized.size();
    }
    std::string Summary() const;
};

ObjectInconsistencies FindObjectInconsistencies(DistributedBackend& backend);

// Moves stray objects under the prefix's orphans/ (kept for the operator to look at), gives up
// stray multipart uploads, drops archives whose object is gone and corrects sizes. Safe while
// instances serve: each repair is checked again first.
void RepairObjects(DistributedBackend& backend, const ObjectInconsistencies& found);

}  // namespace tidewell::webfolder
