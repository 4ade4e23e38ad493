#include "company/CompanyOperation.h"

#include <filesystem>
#include <vector>

#include "company/Common.h"
#include "platform/FileKit.h"
#include "platform/TempFolder.h"

namespace fs = std::filesystem;

namespace tidewell {

CompanyOperation::CompanyOperation(const WorkPlacesInput& places,
                                   std::optional<std::chrono::milliseconds> wait,
                                   const StopQuery& stop)
    : places_(EnsureWorkPlaces(places)),
      work_(places_.work.string()),
      lock_(places_.lock, wait, stop) {
    RemoveWorkLeftovers(work_);
    folder_ = CreatePrivateFolder(work_, "op-").string();
}

CompanyOperation::~CompanyOperation() {
    RemoveTreeQuietly(folder_);
}

void RemoveWorkLeftovers(const std::string& workFolder) {
    std::vector<fs::path> leftovers;
    std::error_code ec;
    for (fs::directory_iterator it(workFolder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename() != OperationLock::kFileName) leftovers.push_back(it->path());
    }
    for (const fs::path& path : leftovers) RemoveTreeQuietly(path);
}

}  // namespace tidewell
