#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/OperationLock.h"
#include "platform/TempFolder.h"

namespace tidewell {

// How long an operation waits for another run of this user before it gives up.
inline constexpr std::chrono::milliseconds kOperationWait{5000};

// The frame of every operation on company data (upload, download, add, delete): it holds the
// user's operation lock for its whole life, clears what killed runs left in the work folder, and
// gives the operation a private folder of its own there, removed at the end. So two runs never
// meet in a file, and fixed names (default.mdb, the archive named after the data's time) stay.
class CompanyOperation {
public:
    // places: where this user's work folder and lock are. wait: nullopt waits as long as it
    // takes. Raises OperationBusy or OperationStopped.
    explicit CompanyOperation(const WorkPlacesInput& places,
                              std::optional<std::chrono::milliseconds> wait = kOperationWait,
                              const StopQuery& stop = {});
    CompanyOperation(const CompanyOperation&) = delete;
    CompanyOperation& operator=(const CompanyOperation&) = delete;
    ~CompanyOperation();

    // A folder only this operation uses, 0700, inside the work folder.
    const std::string& Folder() const { return folder_; }

private:
    WorkPlaces places_;
    std::string work_;
    OperationLock lock_;
    std::string folder_;
};

// Removes everything in the work folder but the lock: with the lock held, whatever is there
// belongs to a run that died (temporary downloads, database copies, upload archives).
void RemoveWorkLeftovers(const std::string& workFolder);

}  // namespace tidewell
