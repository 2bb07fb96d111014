#pragma once

#include "backends/linux/x11/X11EventThread.hpp"
#include "orvane/platform/InputMonitor.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace orvane::linuxbackend {

class X11Connection;

// Global input monitors from XInput 2.2 raw events, which reach a client for input to every
// other client (even under another client's grab). They run on a second X connection with a
// thread of their own. Raw events carry no modifier state, so it comes from XKB state
// notifications.
//
// The server repeats a held key on its own, after the raw events are made: raw events never
// show a repeat. The RECORD extension sees the repeated presses, so a third connection records
// key events on a thread of its own and reports every press of a key that is already down.
// Handlers are called on either thread, one call at a time.
class X11InputMonitor : public InputMonitor {
public:
    X11InputMonitor();
    ~X11InputMonitor() override;
    X11InputMonitor(const X11InputMonitor&) = delete;
    X11InputMonitor& operator=(const X11InputMonitor&) = delete;

    std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;

private:
    struct Monitor {
        std::uint64_t mask;
        std::function<void(const InputEvent&)> handler;
    };

    bool start();
    void startRecording();
    void stopRecording();
    void handle(XEvent& event);
    void handleRecordedKey(bool press, unsigned int detail, unsigned int xState);
    void dispatch(const InputEvent& event);
    void handleRawEvent(int type, unsigned int detail);
    void handleModifierState(unsigned int xState);

    // Held while a handler runs, so that removing a monitor waits for a call in progress and no
    // call starts afterwards. Recursive: a handler may remove monitors itself.
    std::recursive_mutex monitorsMutex_;
    std::map<MonitorToken, Monitor> monitors_;
    MonitorToken nextToken_ = 1;

    std::mutex startMutex_;
    std::unique_ptr<X11Connection> connection_;
    X11EventThread events_; // after the connection: stops before it closes
    int xiOpcode_ = 0;
    int xkbEventBase_ = 0;
    bool startFailed_ = false;

    // Key repeats, when the server offers RECORD: the context lives on `connection_`, its data
    // arrive on `recordConnection_`, which the server serves nothing else until it is disabled.
    unsigned long recordContext_ = 0;
    std::unique_ptr<X11Connection> recordConnection_;
    X11EventThread recordEvents_;
    std::set<unsigned int> recordedKeysDown_; // recording thread

    // Thread state.
    std::set<unsigned int> keysDown_;
    std::set<unsigned int> buttonsDown_;
    std::uint64_t flags_ = 0;
    int lastX_ = 0, lastY_ = 0;
};

} // namespace orvane::linuxbackend
