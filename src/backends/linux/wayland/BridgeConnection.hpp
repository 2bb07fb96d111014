#pragma once

#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"
#include "plinth/Geometry.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace orvane::linuxbackend {

// One monitor as the bridge lists it, in stage coordinates (the compositor's global top-left
// space).
struct BridgeMonitor {
    plinth::Rect stageFrame;
    std::string connector;
    std::string name;
    bool primary = false;
};

// One window as the bridge lists it, front to back; rectangles in stage coordinates.
struct BridgeWindow {
    std::uint64_t id = 0;
    std::uint32_t pid = 0; // 0: unknown
    std::string applicationId;
    std::string title;
    std::string type; // "normal", "dialog", "popup_menu"...
    plinth::Rect frame;
    plinth::Rect buffer;
    int monitor = -1;
    bool above = false;
    bool minimized = false;
};

// One sample of the pointer and the keyboard's activity. `state` holds Clutter's bits.
struct BridgeInput {
    int x = 0;
    int y = 0;
    std::uint32_t state = 0;
    std::uint32_t idleMilliseconds = 0;
    // When the sample arrived, in milliseconds of the monotonic clock: with the idle time it
    // dates the last input, as the samples come only when something changed.
    double receivedAtMilliseconds = 0;
};

// What is known of the bridge, as its signals last told it.
struct BridgeSnapshot {
    bool present = false;            // its bus name has an owner
    std::optional<unsigned> version; // as it answered; nullopt before it did
    bool ready = false;              // present, of our version, and its state read
    std::string shellVersion;
    std::shared_ptr<const std::vector<BridgeMonitor>> monitors;
    std::shared_ptr<const std::vector<BridgeWindow>> windows;
    std::uint64_t focusWindow = 0;
    bool overviewActive = false;
    std::string shellModal;
    std::optional<BridgeInput> input; // the latest sample since the bridge became ready
};

struct BridgeEvent {
    enum class Kind {
        ready,    // the bridge came (back) and its state is read
        vanished, // it left the bus
        refused,  // one of another version is on the bus
        monitorsChanged,
        windowsChanged,
        focusChanged,
        shellModalChanged,
        overviewChanged,
        input,
        acceleratorActivated,
        indicatorActivated,
        indicatorOpening,
    };
    BridgeEvent(Kind what = Kind::ready) : kind(what) {} // NOLINT: implicit on purpose

    Kind kind;
    BridgeInput input;        // input
    std::uint32_t action = 0; // acceleratorActivated
    std::string id;           // indicatorActivated
};

// The session-bus client of a compositor's bridge (net.orvane.Bridge): a connection of its own
// on a worker thread follows the bridge's name, refuses a bridge of another version, and keeps
// its monitors, windows, focus, overview, shell dialogs and input samples from its signals, so
// that asking (on every pose) costs a lock and a copy of two pointers. Listeners hear each
// change on the main queue. Calls go over a second connection owned by the main thread, each
// bounded by `callTimeoutMicroseconds`.
class BridgeConnection {
public:
    static constexpr const char* busName = "net.orvane.Bridge";
    static constexpr const char* objectPath = "/net/orvane/Bridge";
    static constexpr const char* interfaceName = "net.orvane.Bridge1";
    static constexpr unsigned version = 1;
    static constexpr std::uint64_t callTimeoutMicroseconds = 1'000'000;

    // `mainQueue` delivers the listeners' calls; when null, the installed platform's at each
    // event.
    explicit BridgeConnection(std::shared_ptr<MainQueue> mainQueue);
    // Joins the worker; returns at once even while the bridge has not answered.
    ~BridgeConnection();
    BridgeConnection(const BridgeConnection&) = delete;
    BridgeConnection& operator=(const BridgeConnection&) = delete;

    // Any thread.
    BridgeSnapshot snapshot() const;

    // Main thread: `listener` is called on the main queue for every event, never after the
    // subscription ends.
    Subscription listen(std::function<void(const BridgeEvent&)> listener);

    // Main thread. A method of the bridge with `types`/arguments as sd-bus writes them; the
    // reply (to unref) or null when the bridge did not answer in time or refused.
    sd_bus_message* call(const char* member, const char* types, ...);
    // Any service: the same over the main thread's connection.
    sd_bus_message* callService(const char* service, const char* path, const char* interface,
                                const char* member, const char* types, ...);
    // Main thread: the session-bus connection the calls use; null without a session bus.
    sd_bus* callBus();
    // Main thread: a call of the bridge to fill in (null without a bus), and sending it (taken
    // over): the reply, as `call` gives it.
    sd_bus_message* newCall(const char* member);
    sd_bus_message* send(sd_bus_message* call);

    // Main thread: the pointer is at `x`, `y` now (warped there), before a sample says so.
    void notePointerAt(int x, int y);

    // Any thread: waits until the first look at the bus is done (the bridge read, refused,
    // or not there), for command-line modes that answer at once. False when that took longer.
    bool waitUntilSettled(std::chrono::milliseconds timeout) const;

    // Main thread: asks for input samples every `milliseconds` (0: none), again whenever the
    // bridge comes back.
    bool watchInput(unsigned milliseconds);

private:
    friend class BridgeLoop;
    struct Listeners;

    void run();
    void update(const std::function<void(BridgeSnapshot&)>& change);
    void post(BridgeEvent event);
    void markSettled();
    void updateAndPost(const std::function<void(BridgeSnapshot&)>& change, BridgeEvent event);
    std::shared_ptr<MainQueue> queue() const;

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<Listeners> listeners_;
    mutable std::mutex mutex_;
    mutable std::condition_variable settledChanged_;
    bool settled_ = false; // guarded by mutex_
    BridgeSnapshot snapshot_;
    Subscription rewatch_;
    unsigned inputInterval_ = 0; // main thread
    sd_bus* callBus_ = nullptr;  // main thread
    int wakeFd_ = -1;
    std::thread thread_; // last: ends before the rest goes
};

} // namespace orvane::linuxbackend
