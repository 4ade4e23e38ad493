#pragma once

namespace tidewell {

// Long operations run on the user-interface thread and call ProcessMessages() while they work
// (after every archive block, while waiting for the network), so the window keeps repainting.
// The front end installs its toolkit's pump at start-up; without one the call does nothing.
class MessagePump {
public:
    virtual ~MessagePump() = default;
    virtual void ProcessMessages() = 0;
    // True once the application is shutting down; waits give up then.
    virtual bool Terminated() const { return false; }
};

void InstallMessagePump(MessagePump* pump);  // not owned; nullptr removes it
MessagePump* InstalledMessagePump();
void ProcessMessages();
bool ApplicationTerminated();

// Installs a pump for the lifetime of the object and puts the previous one back afterwards.
class ScopedMessagePump {
public:
    explicit ScopedMessagePump(MessagePump& pump) : previous_(InstalledMessagePump()) {
        InstallMessagePump(&pump);
    }
    ScopedMessagePump(const ScopedMessagePump&) = delete;
    ScopedMessagePump& operator=(const ScopedMessagePump&) = delete;
    ~ScopedMessagePump() { InstallMessagePump(previous_); }

private:
    MessagePump* previous_;
};

}  // namespace tidewell
