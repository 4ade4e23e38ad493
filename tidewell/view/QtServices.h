#pragma once

// What the core asks of the desktop, answered with Qt: message boxes, the message pump while
// long operations run, and the shell.

#include <QPointer>
#include <QWidget>

#include "platform/MessagePump.h"
#include "platform/Shell.h"
#include "platform/UserInterface.h"

namespace tidewell {

// The window's texts use CR LF or a lone CR between lines; Qt wants LF.
QString DisplayText(const std::string& text);

class QtUserInterface : public UserInterfaceService {
public:
    // Boxes are owned by the parent window while it exists.
    void SetParent(QWidget* parent) { parent_ = parent; }
    MessageResult ShowMessageBox(const MessageBoxRequest& request) override;

private:
    QPointer<QWidget> parent_;
};

class QtMessagePump : public MessagePump {
public:
    void ProcessMessages() override;
    bool Terminated() const override;
};

class QtShell : public Shell {
public:
    bool OpenUrl(const std::string& url) override;
    bool StartProgram(const std::string& program, const std::string& parameters,
                      const std::string& workingFolder) override;
};

}  // namespace tidewell
