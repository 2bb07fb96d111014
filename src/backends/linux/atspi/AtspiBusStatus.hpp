#pragma once

#include <mutex>
#include <string>

struct DBusConnection;

namespace orvane::linuxbackend {

// The accessibility bus switch (org.a11y.Status IsEnabled on the session bus): while it is off,
// most toolkits do not expose their widgets, so it stands for "this process may use the
// accessibility interface". Every call is bounded in time. Thread-safe.
class AtspiBusStatus {
public:
    AtspiBusStatus() = default;
    ~AtspiBusStatus();
    AtspiBusStatus(const AtspiBusStatus&) = delete;
    AtspiBusStatus& operator=(const AtspiBusStatus&) = delete;

    // False when the property is off, or there is no session bus or no accessibility bus.
    bool isEnabled();

    // Whether the desktop says a screen reader runs (ScreenReaderEnabled): some toolkits (Qt)
    // expose their widgets only then. False when unknown.
    bool isScreenReaderEnabled();

    // Switches it on (or off). False when the bus did not accept it.
    bool setEnabled(bool enabled);

    // The accessibility bus's address; empty when there is none. Asking starts the bus when the
    // session can, and has its launcher publish the address where libatspi reads it.
    std::string address();

private:
    DBusConnection* connection();
    bool readSwitch(const char* property);

    std::mutex mutex_;
    DBusConnection* connection_ = nullptr;
};

} // namespace orvane::linuxbackend
