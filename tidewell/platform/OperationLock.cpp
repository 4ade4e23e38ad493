#include "platform/OperationLock.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>

#include <thread>

#include "platform/MessagePump.h"

namespace tidewell {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);

}  // namespace

OperationBusy::OperationBusy()
    : Exception(
          "다른 Tidewell 작업이 진행 중입니다.\r\n그 작업이 끝난 뒤에 다시 시도해 주세요.") {}

OperationLock::OperationLock(const std::filesystem::path& folder,
                             std::optional<std::chrono::milliseconds> wait, const StopQuery& stop) {
    const std::filesystem::path file = folder / kFileName;
    file_ = FileHandle(::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file_) {
        throw Exception("작업 잠금 파일을 열 수 없습니다 (" + std::string(strerror(errno)) +
                        "): " + file.string());
    }
    const auto deadline = std::chrono::steady_clock::now() + wait.value_or(kPollInterval);
    for (;;) {
        if (::flock(file_.get(), LOCK_EX | LOCK_NB) == 0) return;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            throw Exception("작업 잠금을 얻을 수 없습니다 (" + std::string(strerror(errno)) +
                            "): " + file.string());
        }
        if (wait && std::chrono::steady_clock::now() >= deadline) throw OperationBusy();
        ProcessMessages();
        if (StopWanted(stop)) throw OperationStopped();
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace tidewell
