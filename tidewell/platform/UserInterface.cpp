#include "platform/UserInterface.h"

#include <cstdio>
#include <utility>

namespace tidewell {
namespace {

UserInterfaceService*& Installed() {
    static UserInterfaceService* service = nullptr;
    return service;
}

}  // namespace

MessageResult ConsoleUserInterface::ShowMessageBox(const MessageBoxRequest& request) {
    std::fprintf(stderr, "%s: %s\n", request.title.c_str(), request.text.c_str());
    switch (request.buttons) {
        case MessageButtons::Ok:
            return MessageResult::Ok;
        case MessageButtons::OkCancel:
            return MessageResult::Cancel;
        case MessageButtons::YesNo:
            return MessageResult::No;
        case MessageButtons::YesNoCancel:
            return MessageResult::Cancel;
    }
    return MessageResult::Cancel;
}

void InstallUserInterface(UserInterfaceService* service) { Installed() = service; }

UserInterfaceService& CurrentUserInterface() {
    static ConsoleUserInterface console;
    UserInterfaceService* service = Installed();
    return service ? *service : console;
}

ScopedUserInterface::ScopedUserInterface(UserInterfaceService& service)
    : previous_(std::exchange(Installed(), &service)) {}

ScopedUserInterface::~ScopedUserInterface() { Installed() = previous_; }

}  // namespace tidewell
