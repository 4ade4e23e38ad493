#pragma once

#include <chrono>
#include <filesystem>
#include <optional>

#include "platform/Error.h"
#include "platform/FileHandle.h"

namespace tidewell {

// Another run of this user (the window, a scheduled command) holds the lock for too long.
class OperationBusy : public Exception {
public:
    OperationBusy();
};

// One operation on company data at a time for this user, across processes: an exclusive
// flock on a file in the work folder, released when the object goes (or the process dies).
class OperationLock {
public:
    // Waits for the lock up to wait (forever when nullopt), handing control to the window
    // meanwhile. Raises OperationBusy when the time is up and OperationStopped when stop asks.
    OperationLock(const std::filesystem::path& folder, std::optional<std::chrono::milliseconds> wait,
                  const StopQuery& stop = {});
    OperationLock(OperationLock&&) noexcept = default;
    OperationLock& operator=(OperationLock&&) noexcept = default;

    static constexpr const char* kFileName = ".lock";

private:
    FileHandle file_;
};

}  // namespace tidewell
