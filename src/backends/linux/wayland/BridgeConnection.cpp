#include "backends/linux/wayland/BridgeConnection.hpp"

#include "backends/linux/WorkerWakeUp.hpp"
#include "orvane/platform/Platform.hpp"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <sys/epoll.h>
#include <utility>

namespace orvane::linuxbackend {
namespace {

constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

void logInfo(const std::string& text) {
    if (auto sink = currentLogSink()) {
        sink->write(LogLevel::info, kApplicationIdentifier, "core", text);
    }
}

bool isError(sd_bus_message* m) {
    return sd_bus_message_is_method_error(m, nullptr) != 0;
}

std::optional<std::vector<CompositorMonitor>> readMonitors(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "(iiiissb)") <= 0) {
        return std::nullopt;
    }
    std::vector<CompositorMonitor> monitors;
    int x = 0, y = 0, width = 0, height = 0, primary = 0;
    const char* connector = nullptr;
    const char* name = nullptr;
    int r = 0;
    while ((r = sd_bus_message_read(m, "(iiiissb)", &x, &y, &width, &height, &connector, &name,
                                    &primary)) > 0) {
        monitors.push_back(
            {{double(x), double(y), double(width), double(height)}, connector, name, primary != 0});
    }
    if (r < 0) {
        return std::nullopt;
    }
    return monitors;
}

std::optional<std::vector<CompositorWindow>> readWindows(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "(tusss(iiii)(iiii)ibb)") <= 0) {
        return std::nullopt;
    }
    std::vector<CompositorWindow> windows;
    std::uint64_t id = 0;
    std::uint32_t pid = 0;
    const char* application = nullptr;
    const char* title = nullptr;
    const char* type = nullptr;
    int f[4] = {}, b[4] = {};
    int monitor = -1, above = 0, minimized = 0;
    int r = 0;
    while ((r = sd_bus_message_read(m, "(tusss(iiii)(iiii)ibb)", &id, &pid, &application, &title,
                                    &type, &f[0], &f[1], &f[2], &f[3], &b[0], &b[1], &b[2], &b[3],
                                    &monitor, &above, &minimized)) > 0) {
        windows.push_back({id,
                           pid,
                           application,
                           title,
                           type,
                           {double(f[0]), double(f[1]), double(f[2]), double(f[3])},
                           {double(b[0]), double(b[1]), double(b[2]), double(b[3])},
                           monitor,
                           above != 0,
                           minimized != 0});
    }
    if (r < 0) {
        return std::nullopt;
    }
    return windows;
}

} // namespace

// The worker's state: its connection, the calls in flight. Created, used and destroyed on the
// worker thread only.
class BridgeLoop {
public:
    BridgeLoop(BridgeConnection& owner, sd_event* event) : owner_(owner), event_(event) {}

    ~BridgeLoop() {
        forgetCalls();
        bus_ = sd_bus_close_unref(bus_);
    }

    BridgeLoop(const BridgeLoop&) = delete;
    BridgeLoop& operator=(const BridgeLoop&) = delete;

    bool start() {
        int r = sd_bus_open_user(&bus_);
        if (r >= 0) {
            r = sd_bus_set_close_on_exit(bus_, 0);
        }
        if (r >= 0) {
            r = sd_bus_attach_event(bus_, event_, SD_EVENT_PRIORITY_NORMAL);
        }
        if (r >= 0) {
            r = sd_bus_match_signal(bus_, nullptr, "org.freedesktop.DBus.Local",
                                    "/org/freedesktop/DBus/Local", "org.freedesktop.DBus.Local",
                                    "Disconnected", &BridgeLoop::onDisconnected, this);
        }
        if (r < 0) {
            bus_ = sd_bus_close_unref(bus_);
            logInfo(std::string("session bus unavailable (") + std::strerror(-r) +
                    "): the desktop's bridge is not reached");
            owner_.markSettled();
            return false;
        }
        // The daemon takes requests in order: the matches are in place before the owner is
        // answered, so nothing the bridge says after that is missed.
        const std::string name = BridgeConnection::busName;
        addMatch("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                 "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
                     name + "'",
                 &BridgeLoop::onNameOwnerChanged);
        addMatch("type='signal',sender='" + name + "',path='" + BridgeConnection::objectPath +
                     "',interface='" + BridgeConnection::interfaceName + "'",
                 &BridgeLoop::onSignal);
        addMatch("type='signal',sender='" + name + "',path='" + BridgeConnection::objectPath +
                     "',interface='" + propertiesInterface + "',member='PropertiesChanged',arg0='" +
                     BridgeConnection::interfaceName + "'",
                 &BridgeLoop::onProperties);
        sd_bus_call_method_async(bus_, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus", "GetNameOwner", &BridgeLoop::onOwner, this,
                                 "s", BridgeConnection::busName);
        return true;
    }

private:
    static BridgeLoop& of(void* userdata) { return *static_cast<BridgeLoop*>(userdata); }

    void addMatch(const std::string& match, sd_bus_message_handler_t handler) {
        const int r = sd_bus_add_match_async(bus_, nullptr, match.c_str(), handler, nullptr, this);
        if (r < 0) {
            logInfo("cannot watch " + match + " (" + std::strerror(-r) + ")");
        }
    }

    // Calls of the bridge whose answers belong to its current owner; dropped when it goes.
    sd_bus_slot** callBridge(sd_bus_slot** slot, const char* interface, const char* member,
                             sd_bus_message_handler_t handler, const char* property = nullptr) {
        sd_bus_slot_unref(*slot);
        *slot = nullptr;
        sd_bus_message* call = nullptr;
        int r = sd_bus_message_new_method_call(bus_, &call, BridgeConnection::busName,
                                               BridgeConnection::objectPath, interface, member);
        if (r >= 0 && property) {
            r = sd_bus_message_append(call, "ss", BridgeConnection::interfaceName, property);
        } else if (r >= 0 && std::strcmp(member, "GetAll") == 0) {
            r = sd_bus_message_append(call, "s", BridgeConnection::interfaceName);
        }
        if (r >= 0) {
            r = sd_bus_call_async(bus_, slot, call, handler, this,
                                  BridgeConnection::callTimeoutMicroseconds);
        }
        sd_bus_message_unref(call);
        return r >= 0 ? slot : nullptr;
    }

    void forgetCalls() {
        for (sd_bus_slot** slot : {&versionSlot_, &allSlot_, &monitorsSlot_, &windowsSlot_}) {
            *slot = sd_bus_slot_unref(*slot);
        }
        monitorsDirty_ = windowsDirty_ = false;
    }

    void attach() {
        forgetCalls();
        attaching_ = true;
        owner_.update([](CompositorSnapshot& s) {
            s = CompositorSnapshot{};
            s.present = true;
        });
        callBridge(&versionSlot_, propertiesInterface, "Get", &BridgeLoop::onVersion, "Version");
    }

    void detach() {
        const bool wasReady = owner_.snapshot().ready;
        forgetCalls();
        attaching_ = false;
        owner_.update([](CompositorSnapshot& s) { s = CompositorSnapshot{}; });
        if (wasReady) {
            owner_.post({CompositorEvent::Kind::vanished});
        }
    }

    void finishAttaching() {
        if (attaching_ && !allSlot_ && !monitorsSlot_ && !windowsSlot_) {
            attaching_ = false;
            owner_.update([](CompositorSnapshot& s) { s.ready = true; });
            owner_.post({CompositorEvent::Kind::ready});
            owner_.markSettled();
        }
    }

    bool isReady() const { return !attaching_ && owner_.snapshot().ready; }

    void askMonitors() {
        if (monitorsSlot_) {
            monitorsDirty_ = true; // asked again once this answer is in
            return;
        }
        callBridge(&monitorsSlot_, BridgeConnection::interfaceName, "GetMonitors",
                   &BridgeLoop::onMonitors);
    }

    void askWindows() {
        if (windowsSlot_) {
            windowsDirty_ = true;
            return;
        }
        callBridge(&windowsSlot_, BridgeConnection::interfaceName, "GetWindows",
                   &BridgeLoop::onWindows);
    }

    static int onOwner(sd_bus_message* m, void* userdata, sd_bus_error*) {
        if (!isError(m)) {
            of(userdata).attach();
        } else {
            of(userdata).owner_.markSettled(); // no bridge on the bus
        }
        return 0;
    }

    static int onNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char* name = nullptr;
        const char* before = nullptr;
        const char* after = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0 ||
            std::strcmp(name, BridgeConnection::busName) != 0) {
            return 0;
        }
        BridgeLoop& loop = of(userdata);
        if (before && *before) {
            loop.detach();
        }
        if (after && *after) {
            loop.attach();
        }
        return 0;
    }

    static int onVersion(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.versionSlot_ = sd_bus_slot_unref(loop.versionSlot_);
        unsigned version = 0;
        if (isError(m) || sd_bus_message_read(m, "v", "u", &version) < 0) {
            loop.attaching_ = false;
            loop.owner_.markSettled();
            logInfo("the desktop's bridge does not say its version: it is not used");
            return 0;
        }
        loop.owner_.update([version](CompositorSnapshot& s) { s.version = version; });
        if (version != BridgeConnection::version) {
            loop.attaching_ = false;
            logInfo("the desktop's bridge speaks version " + std::to_string(version) +
                    ", and Orvane speaks " + std::to_string(BridgeConnection::version) +
                    ": it is not used");
            loop.owner_.post({CompositorEvent::Kind::refused});
            loop.owner_.markSettled();
            return 0;
        }
        loop.callBridge(&loop.allSlot_, propertiesInterface, "GetAll", &BridgeLoop::onAll);
        loop.askMonitors();
        loop.askWindows();
        return 0;
    }

    static int onAll(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.allSlot_ = sd_bus_slot_unref(loop.allSlot_);
        if (!isError(m)) {
            loop.readProperties(m, false);
        }
        loop.finishAttaching();
        return 0;
    }

    static int onMonitors(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.monitorsSlot_ = sd_bus_slot_unref(loop.monitorsSlot_);
        auto monitors = isError(m) ? std::nullopt : readMonitors(m);
        if (monitors) {
            auto shared =
                std::make_shared<const std::vector<CompositorMonitor>>(std::move(*monitors));
            loop.owner_.update([&](CompositorSnapshot& s) { s.monitors = shared; });
        }
        if (std::exchange(loop.monitorsDirty_, false)) {
            loop.askMonitors();
        } else if (monitors && loop.isReady()) {
            loop.owner_.post({CompositorEvent::Kind::monitorsChanged});
        }
        loop.finishAttaching();
        return 0;
    }

    static int onWindows(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.windowsSlot_ = sd_bus_slot_unref(loop.windowsSlot_);
        auto windows = isError(m) ? std::nullopt : readWindows(m);
        if (windows) {
            auto shared =
                std::make_shared<const std::vector<CompositorWindow>>(std::move(*windows));
            loop.owner_.update([&](CompositorSnapshot& s) { s.windows = shared; });
        }
        if (std::exchange(loop.windowsDirty_, false)) {
            loop.askWindows();
        } else if (windows && loop.isReady()) {
            loop.owner_.post({CompositorEvent::Kind::windowsChanged});
        }
        loop.finishAttaching();
        return 0;
    }

    // Reads an a{sv} of the bridge's properties at the read position.
    void readProperties(sd_bus_message* m, bool announce) {
        if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
            return;
        }
        std::vector<CompositorEvent::Kind> changes;
        while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(m, "s", &name) < 0) {
                return;
            }
            int r = 0;
            if (std::strcmp(name, "FocusWindow") == 0) {
                std::uint64_t focus = 0;
                r = sd_bus_message_read(m, "v", "t", &focus);
                owner_.update([focus](CompositorSnapshot& s) { s.focusWindow = focus; });
                changes.push_back(CompositorEvent::Kind::focusChanged);
            } else if (std::strcmp(name, "OverviewActive") == 0) {
                int active = 0;
                r = sd_bus_message_read(m, "v", "b", &active);
                owner_.update([active](CompositorSnapshot& s) { s.overviewActive = active != 0; });
                changes.push_back(CompositorEvent::Kind::overviewChanged);
            } else if (std::strcmp(name, "ShellModal") == 0) {
                const char* modal = nullptr;
                r = sd_bus_message_read(m, "v", "s", &modal);
                const std::string text = r >= 0 && modal ? modal : "";
                owner_.update([&text](CompositorSnapshot& s) { s.shellModal = text; });
                changes.push_back(CompositorEvent::Kind::shellModalChanged);
            } else if (std::strcmp(name, "ShellVersion") == 0) {
                const char* shell = nullptr;
                r = sd_bus_message_read(m, "v", "s", &shell);
                const std::string text = r >= 0 && shell ? shell : "";
                owner_.update([&text](CompositorSnapshot& s) { s.compositorVersion = text; });
            } else {
                r = sd_bus_message_skip(m, "v");
            }
            if (r < 0 || sd_bus_message_exit_container(m) < 0) {
                return;
            }
        }
        sd_bus_message_exit_container(m);
        if (announce) {
            for (auto kind : changes) {
                owner_.post({kind});
            }
        }
    }

    static int onProperties(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        const char* interface = nullptr;
        if (!loop.isReady() || sd_bus_message_read(m, "s", &interface) < 0) {
            return 0;
        }
        loop.readProperties(m, true);
        char** invalidated = nullptr;
        if (sd_bus_message_read_strv(m, &invalidated) >= 0) {
            const bool any = invalidated && *invalidated;
            for (char** name = invalidated; name && *name; ++name) {
                std::free(*name);
            }
            std::free(invalidated);
            if (any) { // changed without the values: read them all again
                loop.callBridge(&loop.allSlot_, propertiesInterface, "GetAll",
                                &BridgeLoop::onLateAll);
            }
        }
        return 0;
    }

    static int onLateAll(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        loop.allSlot_ = sd_bus_slot_unref(loop.allSlot_);
        if (!isError(m)) {
            loop.readProperties(m, true);
        }
        return 0;
    }

    static int onSignal(sd_bus_message* m, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        if (!loop.isReady()) {
            return 0; // the state being read now covers it
        }
        const char* member = sd_bus_message_get_member(m);
        if (std::strcmp(member, "MonitorsChanged") == 0) {
            loop.askMonitors();
        } else if (std::strcmp(member, "WindowsChanged") == 0) {
            loop.askWindows();
        } else if (std::strcmp(member, "Input") == 0) {
            CompositorInput input;
            input.receivedAtMilliseconds = std::chrono::duration<double, std::milli>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count();
            if (sd_bus_message_read(m, "iiuu", &input.x, &input.y, &input.state,
                                    &input.idleMilliseconds) >= 0) {
                CompositorEvent event{CompositorEvent::Kind::input};
                event.input = input;
                loop.owner_.updateAndPost([&input](CompositorSnapshot& s) { s.input = input; },
                                          std::move(event));
            }
        } else if (std::strcmp(member, "AcceleratorActivated") == 0) {
            CompositorEvent event{CompositorEvent::Kind::acceleratorActivated};
            if (sd_bus_message_read(m, "u", &event.action) >= 0) {
                loop.owner_.post(std::move(event));
            }
        } else if (std::strcmp(member, "IndicatorActivated") == 0) {
            const char* id = nullptr;
            if (sd_bus_message_read(m, "s", &id) >= 0 && id) {
                CompositorEvent event{CompositorEvent::Kind::indicatorActivated};
                event.id = id;
                loop.owner_.post(std::move(event));
            }
        } else if (std::strcmp(member, "IndicatorOpening") == 0) {
            loop.owner_.post({CompositorEvent::Kind::indicatorOpening});
        }
        return 0;
    }

    static int onDisconnected(sd_bus_message*, void* userdata, sd_bus_error*) {
        BridgeLoop& loop = of(userdata);
        logInfo("session bus connection lost: the desktop's bridge is no longer reached");
        loop.detach();
        sd_event_exit(loop.event_, 0);
        return 0;
    }

    BridgeConnection& owner_;
    sd_event* event_;
    sd_bus* bus_ = nullptr;
    sd_bus_slot* versionSlot_ = nullptr;
    sd_bus_slot* allSlot_ = nullptr;
    sd_bus_slot* monitorsSlot_ = nullptr;
    sd_bus_slot* windowsSlot_ = nullptr;
    bool monitorsDirty_ = false;
    bool windowsDirty_ = false;
    bool attaching_ = false; // the current owner's state is being read
};

namespace {

int onWake(sd_event_source* source, int, std::uint32_t, void*) {
    sd_event_exit(sd_event_source_get_event(source), 0);
    return 0;
}

sd_bus_message* callWith(sd_bus* bus, const char* service, const char* path, const char* interface,
                         const char* member, const char* types, va_list arguments) {
    if (!bus) {
        return nullptr;
    }
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus, &call, service, path, interface, member);
    if (r >= 0 && types && *types) {
        r = sd_bus_message_appendv(call, types, arguments);
    }
    if (r >= 0) {
        r = sd_bus_call(bus, call, BridgeConnection::callTimeoutMicroseconds, &error, &reply);
    }
    sd_bus_message_unref(call);
    sd_bus_error_free(&error);
    return r >= 0 ? reply : nullptr;
}

} // namespace

BridgeConnection::BridgeConnection(std::shared_ptr<MainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)) {
    // The bridge forgets who asked for input when it goes: ask again when it is back.
    rewatch_ = listen([this](const CompositorEvent& event) {
        if (event.kind == CompositorEvent::Kind::ready && inputInterval_ > 0) {
            watchInput(inputInterval_);
        }
    });
    if (auto problem = startWithWakeUp(thread_, wakeFd_, [this] { run(); })) {
        logInfo("the desktop's bridge is not reached: " + *problem);
    }
}

BridgeConnection::~BridgeConnection() {
    wakeJoinAndClose(thread_, wakeFd_);
    rewatch_.reset();
    callBus_ = sd_bus_flush_close_unref(callBus_);
}

CompositorSnapshot BridgeConnection::snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

void BridgeConnection::update(const std::function<void(CompositorSnapshot&)>& change) {
    std::lock_guard lock(mutex_);
    change(snapshot_);
}

std::shared_ptr<MainQueue> BridgeConnection::queue() const {
    if (mainQueue_) {
        return mainQueue_;
    }
    return hasPlatform() ? platform().mainQueue : nullptr;
}

std::optional<std::uint64_t> BridgeConnection::activateWindow(std::uint64_t id) {
    sd_bus_message* reply = call("ActivateWindow", "t", id);
    int activated = 0;
    const bool answered = reply && sd_bus_message_read(reply, "b", &activated) >= 0;
    sd_bus_message_unref(reply);
    if (!answered || !activated) {
        return std::nullopt;
    }
    // Asked now rather than taken from the cache, which hears of the change a moment later.
    reply = callService(busName, objectPath, propertiesInterface, "Get", "ss", interfaceName,
                        "FocusWindow");
    std::uint64_t focus = 0;
    const bool read = reply && sd_bus_message_read(reply, "v", "t", &focus) >= 0;
    sd_bus_message_unref(reply);
    if (!read) {
        return std::nullopt;
    }
    return focus;
}

bool BridgeConnection::warpPointer(int x, int y) {
    sd_bus_message* reply = call("WarpPointer", "ii", x, y);
    if (!reply) {
        return false;
    }
    sd_bus_message_unref(reply);
    // Known at once, so that the sample showing the warp is no move of the user's: the
    // guards take the pointer's place right after warping it.
    update([x, y](CompositorSnapshot& s) {
        if (s.input) {
            s.input->x = x;
            s.input->y = y;
        }
    });
    return true;
}

std::optional<plinth::Point> BridgeConnection::queryPointer() {
    sd_bus_message* reply = call("GetPointer", "");
    if (!reply) {
        return std::nullopt;
    }
    int x = 0, y = 0;
    std::uint32_t state = 0;
    const bool read = sd_bus_message_read(reply, "iiu", &x, &y, &state) >= 0;
    sd_bus_message_unref(reply);
    if (!read) {
        return std::nullopt;
    }
    return plinth::Point{double(x), double(y)};
}

bool BridgeConnection::postKey(std::uint32_t keysym, bool press) {
    sd_bus_message* reply = call("PostKey", "ub", keysym, int(press));
    int posted = 0;
    const bool ok = reply && sd_bus_message_read(reply, "b", &posted) >= 0 && posted != 0;
    sd_bus_message_unref(reply);
    return ok;
}

void BridgeConnection::markSettled() {
    {
        std::lock_guard lock(mutex_);
        settled_ = true;
    }
    settledChanged_.notify_all();
}

bool BridgeConnection::waitUntilSettled(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return settledChanged_.wait_for(lock, timeout, [this] { return settled_; });
}

void BridgeConnection::updateAndPost(const std::function<void(CompositorSnapshot&)>& change,
                                     CompositorEvent event) {
    // Under the lock, so that whoever sees the sample in the snapshot finds its event queued.
    std::lock_guard lock(mutex_);
    change(snapshot_);
    post(std::move(event));
}

void BridgeConnection::post(CompositorEvent event) {
    listeners_.post(queue(), std::move(event));
}

Subscription BridgeConnection::listen(std::function<void(const CompositorEvent&)> listener) {
    return listeners_.add(std::move(listener));
}

sd_bus* BridgeConnection::callBus() {
    if (callBus_ && sd_bus_is_open(callBus_) <= 0) {
        callBus_ = sd_bus_close_unref(callBus_); // the bus went: a new one may be there
    }
    if (!callBus_) {
        sd_bus* bus = nullptr;
        if (sd_bus_open_user(&bus) < 0) {
            return nullptr;
        }
        sd_bus_set_close_on_exit(bus, 0);
        callBus_ = bus;
    }
    return callBus_;
}

sd_bus_message* BridgeConnection::call(const char* member, const char* types, ...) {
    va_list arguments;
    va_start(arguments, types);
    sd_bus_message* reply =
        callWith(callBus(), busName, objectPath, interfaceName, member, types, arguments);
    va_end(arguments);
    return reply;
}

sd_bus_message* BridgeConnection::callService(const char* service, const char* path,
                                              const char* interface, const char* member,
                                              const char* types, ...) {
    va_list arguments;
    va_start(arguments, types);
    sd_bus_message* reply = callWith(callBus(), service, path, interface, member, types, arguments);
    va_end(arguments);
    return reply;
}

sd_bus_message* BridgeConnection::newCall(const char* member) {
    sd_bus* bus = callBus();
    sd_bus_message* call = nullptr;
    if (!bus || sd_bus_message_new_method_call(bus, &call, busName, objectPath, interfaceName,
                                               member) < 0) {
        return nullptr;
    }
    return call;
}

sd_bus_message* BridgeConnection::send(sd_bus_message* call) {
    if (!call) {
        return nullptr;
    }
    sd_bus_message* reply = nullptr;
    const int r =
        sd_bus_call(sd_bus_message_get_bus(call), call, callTimeoutMicroseconds, nullptr, &reply);
    sd_bus_message_unref(call);
    return r >= 0 ? reply : nullptr;
}

bool BridgeConnection::watchInput(unsigned milliseconds) {
    inputInterval_ = milliseconds;
    sd_bus_message* reply = call("WatchInput", "u", milliseconds);
    const bool answered = reply != nullptr;
    sd_bus_message_unref(reply);
    return answered;
}

void BridgeConnection::run() {
    sd_event* event = nullptr;
    int r = sd_event_new(&event);
    if (r >= 0) {
        r = sd_event_add_io(event, nullptr, wakeFd_, EPOLLIN, &onWake, nullptr);
    }
    if (r < 0) {
        logInfo(std::string("the desktop's bridge is not reached: ") + std::strerror(-r));
        sd_event_unref(event);
        return;
    }
    {
        BridgeLoop loop(*this, event);
        if (loop.start()) {
            sd_event_loop(event);
        }
    }
    sd_event_unref(event);
}

} // namespace orvane::linuxbackend
