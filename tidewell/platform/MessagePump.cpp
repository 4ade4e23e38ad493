#include "platform/MessagePump.h"

namespace tidewell {
namespace {

MessagePump*& Installed() {
    static MessagePump* pump = nullptr;
    return pump;
}

}  // namespace

void InstallMessagePump(MessagePump* pump) { Installed() = pump; }

MessagePump* InstalledMessagePump() { return Installed(); }

void ProcessMessages() {
    if (MessagePump* pump = Installed()) pump->ProcessMessages();
}

bool ApplicationTerminated() {
    const MessagePump* pump = Installed();
    return pump != nullptr && pump->Terminated();
}

}  // namespace tidewell
