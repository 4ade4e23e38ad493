#include "gateway/ArchiveReceiver.h"

#include <chrono>

#include "gateway/TidewellGateway.h"
#include "platform/MessagePump.h"

namespace tidewell {
namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(20);

}  // namespace

ArchiveReceiver::ArchiveReceiver(std::unique_ptr<TTidewellGateway> gateway, std::string userID,
                                 std::string password, std::string companyKey,
                                 std::string folder, StopQuery stop)
    : gateway_(std::move(gateway)), stop_(std::move(stop)), sender_(gateway_->HttpClient.get()) {
    gateway_->DownloadFolder = std::move(folder);
    gateway_->HttpClient->PumpMessages = false;
    gateway_->HttpClient->ShouldStop = [this] { return abort_ || StopWanted(stop_); };
    gateway_->OnTransferData = [this](HttpClient*, const char*, std::size_t len) {
        received_ += static_cast<std::int64_t>(len);
    };
    gateway_->OnArchiveName = [this](const std::string& name) {
        const std::lock_guard lock(mutex_);
        name_ = name;
        named_ = true;
    };
    thread_ = std::thread(&ArchiveReceiver::Receive, this, std::move(userID), std::move(password),
                          std::move(companyKey));
}

ArchiveReceiver::~ArchiveReceiver() {
    abort_ = true;
    if (thread_.joinable()) thread_.join();
    gateway_.reset();  // the reply's partial file goes before whoever owns the folder removes it
}

void ArchiveReceiver::Receive(std::string userID, std::string password, std::string companyKey) {
    try {
        if (gateway_->DownloadFile(userID, password, companyKey, answer_)) {
            const std::string name = answer_.Values("FILENAME");
            if (!name.empty()) path_ = answer_.Values("FILEPATH") + "/" + name;
        }
    } catch (...) {
        error_ = std::current_exception();
    }
    done_ = true;
}

void ArchiveReceiver::Wait(const std::function<bool()>& until,
                           const std::function<void()>& tick) const {
    while (!until()) {
        ProcessMessages();
        if (tick) tick();
        std::this_thread::sleep_for(kWaitSlice);
    }
}

std::string ArchiveReceiver::AwaitName(const std::function<void()>& tick) {
    Wait([this] { return named_ || done_; }, tick);
    const std::lock_guard lock(mutex_);
    return name_;
}

std::string ArchiveReceiver::Finish(TAnswerList& answer, const std::function<void()>& tick) {
    Wait([this] { return done_.load(); }, tick);
    thread_.join();
    if (error_) std::rethrow_exception(error_);
    answer = answer_;
    return path_;
}

}  // namespace tidewell
