#pragma once

#include <string>

namespace tidewell {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageResult { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    std::string title;
    std::string text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    MessageResult defaultButton = MessageResult::Ok;
    // Texts for the Yes and No buttons when they name the choices; empty: 예 and 아니요.
    std::string yesText;
    std::string noText;
};

// The modal boxes the core needs (messages, the error report, the disk prompt). The window
// installs its own at start-up; tests install a recording one.
class UserInterfaceService {
public:
    virtual ~UserInterfaceService() = default;
    virtual MessageResult ShowMessageBox(const MessageBoxRequest& request) = 0;
};

// Used when no front end installed one: prints the box on stderr and answers with the
// cautious choice (Cancel, No), so a program without a window never waits for an answer.
class ConsoleUserInterface : public UserInterfaceService {
public:
    MessageResult ShowMessageBox(const MessageBoxRequest& request) override;
};

void InstallUserInterface(UserInterfaceService* service);  // not owned; nullptr removes it
UserInterfaceService& CurrentUserInterface();

class ScopedUserInterface {
public:
    explicit ScopedUserInterface(UserInterfaceService& service);
    ScopedUserInterface(const ScopedUserInterface&) = delete;
    ScopedUserInterface& operator=(const ScopedUserInterface&) = delete;
    ~ScopedUserInterface();

private:
    UserInterfaceService* previous_;
};

}  // namespace tidewell
