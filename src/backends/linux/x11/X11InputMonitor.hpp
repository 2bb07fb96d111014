#pragma once

#include "backends/linux/x11/X11EventThread.hpp"
#include "orvane/platform/InputMonitor.hpp"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/types.h>
#include <unordered_map>

namespace orvane::linuxbackend {

class X11Connection;
class X11PostedKeys;

// Global input monitors from XInput 2.2 raw events, which reach a client for input to every
// other client (even under another client's grab). They run on a second X connection with a
// thread of their own. Raw events carry no modifier state, so it comes from XKB state
// notifications.
//
// The server repeats a held key on its own, after the raw events are made: raw events never
// show a repeat. The RECORD extension sees the repeated presses, so a third connection records
// key events on a thread of its own and reports every press of a key that is already down.
// Handlers are called on either thread, one call at a time.
//
// Like the global monitors of other platforms, these see only input meant for other programs:
// keys while a window of this process has the keyboard focus, and pointer input over one, are
// left out, and so are the keys this process posted itself (`setPostedKeys`).
class X11InputMonitor : public InputMonitor {
public:
    X11InputMonitor();
    ~X11InputMonitor() override;
    X11InputMonitor(const X11InputMonitor&) = delete;
    X11InputMonitor& operator=(const X11InputMonitor&) = delete;

    std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;

    // Where the window server notes the keys it posts. Before the first monitor is added.
    void setPostedKeys(std::shared_ptr<X11PostedKeys> posted) { posted_ = std::move(posted); }

    // The X server time of the user's latest key or button event (press or release, to any
    // window, ours included; keys we posted left out), once a monitor has been added and one
    // has come. Any thread.
    std::optional<unsigned long> lastUserInputTime() const;

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
    void handleRawEvent(int type, unsigned int detail, int sourceDevice, unsigned long time);
    void noteUserInput(unsigned long time);
    void handleModifierState(unsigned int xState, unsigned int keycode, int eventType);
    bool isPosted(unsigned int keycode, bool press, int sourceDevice);
    // Whether the keyboard focus, or the pointer (the deepest window under it, below the root
    // child `rootChild` when known), is in a window of this process. Event thread.
    bool isOwnWindowFocused();
    bool isOwnWindowUnderPointer(unsigned long rootChild);
    bool isOwnWindow(unsigned long window);

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

    std::shared_ptr<X11PostedKeys> posted_;
    std::set<int> xtestDevices_; // the slave devices XTest input comes from
    const pid_t ownPid_;
    std::unordered_map<unsigned long, bool> ownWindows_; // event thread
    // Whether the focus was ours at the latest first press, for the repeats that follow it.
    std::atomic<bool> ownFocus_{false};

    std::atomic<unsigned long> lastUserInput_{0}; // CurrentTime: none yet

    // Thread state.
    std::set<unsigned int> keysDown_;
    std::set<unsigned int> buttonsDown_;
    std::uint64_t flags_ = 0;
    int lastX_ = 0, lastY_ = 0;
};

} // namespace orvane::linuxbackend
