#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "gateway/AnswerList.h"
#include "platform/Error.h"

namespace tidewell {

class TTidewellGateway;

// A company's newest archive arriving on a thread of its own, so that the window's thread can
// pack the safety copy of the local data meanwhile: receiving mostly waits on the network,
// packing uses the cores. Nothing of the window is touched from the other thread; the waits
// below hand control to the window and call tick on the caller's thread.
class ArchiveReceiver {
public:
    // The gateway is used on the receiving thread only; the archive lands in folder.
    ArchiveReceiver(std::unique_ptr<TTidewellGateway> gateway, std::string userID,
                    std::string password, std::string companyKey, std::string folder,
                    StopQuery stop);
    ArchiveReceiver(const ArchiveReceiver&) = delete;
    ArchiveReceiver& operator=(const ArchiveReceiver&) = delete;
    // A receive still under way is broken off; its partial file goes with it.
    ~ArchiveReceiver();

    // Waits until the reply has announced the archive's name, or has ended without one (then
    // empty); the name is known before the archive's body arrives.
    std::string AwaitName(const std::function<void()>& tick);
    // Waits for the end and raises what the request raised. Returns the archive's path, or
    // empty when the reply held none (answer says why).
    std::string Finish(TAnswerList& answer, const std::function<void()>& tick);

    std::int64_t Received() const { return received_; }
    bool Done() const { return done_; }
    // The object that reports the transfer (the HTTP client), for progress events.
    const void* Sender() const { return sender_; }

private:
    void Receive(std::string userID, std::string password, std::string companyKey);
    void Wait(const std::function<bool()>& until, const std::function<void()>& tick) const;

    std::unique_ptr<TTidewellGateway> gateway_;
    StopQuery stop_;
    const void* sender_;
    std::atomic<bool> abort_{false};
    std::atomic<bool> named_{false};
    std::atomic<bool> done_{false};
    std::atomic<std::int64_t> received_{0};
    mutable std::mutex mutex_;
    std::string name_;            // guarded by mutex_
    std::string path_;            // set before done_
    TAnswerList answer_;          // set before done_
    std::exception_ptr error_;    // set before done_
    std::thread thread_;          // last: starts once everything above exists
};

}  // namespace tidewell
