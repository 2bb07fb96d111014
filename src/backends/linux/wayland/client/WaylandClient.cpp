#include "backends/linux/wayland/client/WaylandClient.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/runtime/WorkerWakeUp.hpp"
#include "orvane/platform/Platform.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <wayland-client.h>

#include "backends/linux/wayland/client/LayerShellProtocol.hpp"
#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <utility>

namespace orvane::linuxbackend {

const WaylandGlobals::Output* WaylandGlobals::outputAt(plinth::Point point) const {
    std::vector<plinth::Rect> frames;
    for (const auto& output : outputs) {
        frames.push_back(output.info.logical);
    }
    auto index = plinth::ScreenGeometry::frameContaining(point, frames);
    if (!index) {
        index = plinth::ScreenGeometry::nearestFrame(point, frames);
    }
    return index ? &outputs[*index] : nullptr;
}

// The worker's side: the display, its globals and the parts. Created, used and destroyed on
// the worker thread only.
class WaylandLoop {
public:
    explicit WaylandLoop(WaylandClient& owner) : owner_(owner) {}
    ~WaylandLoop() { disconnect(); }
    WaylandLoop(const WaylandLoop&) = delete;
    WaylandLoop& operator=(const WaylandLoop&) = delete;

    void run() {
        connect();
        owner_.markSettled();
        while (!owner_.stopping_) {
            runTasks();
            if (!display_) {
                waitForWake(WaylandClient::reconnectMilliseconds);
                if (!owner_.stopping_) {
                    runTasks();
                    connect();
                }
                continue;
            }
            dispatchOnce();
        }
        runTasks(); // the last detaches
    }

    void attach(std::shared_ptr<WaylandPart> part) {
        if (std::find(parts_.begin(), parts_.end(), part) != parts_.end()) {
            return;
        }
        parts_.push_back(part);
        if (ready_) {
            part->connected(globals_);
        }
    }

    void detach(const std::shared_ptr<WaylandPart>& part) {
        auto found = std::find(parts_.begin(), parts_.end(), part);
        if (found == parts_.end()) {
            return;
        }
        parts_.erase(found);
        if (ready_) {
            part->disconnecting();
        }
    }

    void runOnConnection(const std::function<void(WaylandGlobals&)>& task) {
        if (ready_) {
            task(globals_);
        }
    }

private:
    // One wl_output and its xdg_output; the layout is pending until the output's done.
    struct OutputRecord {
        WaylandLoop* loop = nullptr;
        std::uint32_t globalName = 0;
        std::uint32_t version = 0;
        wl_output* output = nullptr;
        zxdg_output_v1* xdg = nullptr;
        WaylandOutput info;
        bool done = false;
        bool logicalKnown = false;
        int geometryX = 0;
        int geometryY = 0;
        int modeWidth = 0;
        int modeHeight = 0;
    };

    // A compositor lists a few dozen globals; more are not kept.
    static constexpr std::size_t maxOffers = 256;

    static WaylandLoop& of(void* data) { return *static_cast<WaylandLoop*>(data); }

    void runTasks() {
        std::vector<std::function<void(WaylandLoop&)>> tasks;
        {
            std::lock_guard lock(owner_.mutex_);
            tasks.swap(owner_.tasks_);
        }
        for (auto& task : tasks) {
            task(*this);
        }
    }

    void drainWake() {
        std::uint64_t count = 0;
        [[maybe_unused]] auto r = ::read(owner_.wakeFd_, &count, sizeof count);
    }

    void waitForWake(int milliseconds) {
        pollfd wake{owner_.wakeFd_, POLLIN, 0};
        if (::poll(&wake, 1, milliseconds) > 0) {
            drainWake();
        }
    }

    void setProblem(std::string problem) {
        std::lock_guard lock(owner_.mutex_);
        owner_.state_ = WaylandClientState{};
        owner_.state_.problem = std::move(problem);
    }

    void connect() {
        const char* name = owner_.display_.empty() ? nullptr : owner_.display_.c_str();
        display_ = wl_display_connect(name);
        if (!display_) {
            const char* variable = std::getenv("WAYLAND_DISPLAY");
            setProblem(!name && (!variable || !*variable)
                           ? std::string("no Wayland display (WAYLAND_DISPLAY is not set)")
                           : std::string("cannot connect to the Wayland display: ") +
                                 std::strerror(errno));
            return;
        }
        globals_.display = display_;
        registry_ = wl_display_get_registry(display_);
        globals_.registry = registry_;
        wl_registry_add_listener(registry_, &registryListener, this);
        // The first round binds the globals, the second hears the outputs' layout (the output
        // manager may be listed after the outputs).
        bool ok = wl_display_roundtrip(display_) >= 0;
        if (ok) {
            for (auto& record : outputs_) {
                watchLayout(*record);
            }
            ok = wl_display_roundtrip(display_) >= 0;
        }
        if (!ok || !globals_.compositor) {
            lose(ok ? "the compositor offers no wl_compositor" : "");
            return;
        }
        ready_ = true;
        publishOutputs(false);
        {
            std::lock_guard lock(owner_.mutex_);
            auto& state = owner_.state_;
            state.connected = true;
            state.problem.clear();
            state.seat = globals_.seat != nullptr;
            state.idleNotifier = globals_.idleNotifier != nullptr;
            state.kdeIdle = globals_.kdeIdle != nullptr;
            state.layerShell = globals_.layerShell != nullptr;
        }
        for (const auto& part : std::vector(parts_)) {
            part->connected(globals_);
        }
        owner_.post({WaylandClientEvent::Kind::connected});
    }

    void dispatchOnce() {
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) {
                lose("");
                return;
            }
        }
        short displayEvents = POLLIN;
        if (wl_display_flush(display_) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(display_);
                lose("");
                return;
            }
            displayEvents |= POLLOUT; // the socket is full: write the rest once it drains
        }
        pollfd fds[2] = {{wl_display_get_fd(display_), displayEvents, 0},
                         {owner_.wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            wl_display_cancel_read(display_);
            return; // EINTR: go round again
        }
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (wl_display_read_events(display_) < 0) {
                lose("");
                return;
            }
        } else {
            wl_display_cancel_read(display_);
        }
        if (wl_display_dispatch_pending(display_) < 0) {
            lose("");
            return;
        }
        if (fds[1].revents & POLLIN) {
            drainWake();
        }
    }

    // The connection failed: says why, lets the parts go and disconnects.
    void lose(std::string problem) {
        if (problem.empty() && display_) {
            const int error = wl_display_get_error(display_);
            const wl_interface* interface = nullptr;
            std::uint32_t id = 0;
            if (error == EPROTO) {
                const std::uint32_t code = wl_display_get_protocol_error(display_, &interface, &id);
                problem =
                    std::string("the compositor ended the connection for a protocol error (") +
                    (interface ? interface->name : "?") + " " + std::to_string(code) + ")";
            } else {
                problem = std::string("the compositor went away (") +
                          std::strerror(error ? error : EPIPE) + ")";
            }
        }
        const bool wasReady = ready_;
        disconnect();
        logInfo("Wayland: " + problem);
        setProblem(problem);
        if (wasReady) {
            owner_.post({WaylandClientEvent::Kind::gone});
        }
    }

    void disconnect() {
        if (!display_) {
            return;
        }
        if (ready_) {
            for (const auto& part : std::vector(parts_)) {
                part->disconnecting();
            }
        }
        ready_ = false;
        // The connection closes next: the objects need only be freed here.
        for (auto& record : outputs_) {
            destroyOutput(*record);
        }
        outputs_.clear();
        for (void* proxy :
             {static_cast<void*>(globals_.compositor), static_cast<void*>(globals_.shm),
              static_cast<void*>(globals_.seat), static_cast<void*>(globals_.idleNotifier),
              static_cast<void*>(globals_.kdeIdle), static_cast<void*>(globals_.layerShell),
              static_cast<void*>(outputManager_), static_cast<void*>(registry_)}) {
            if (proxy) {
                wl_proxy_destroy(static_cast<wl_proxy*>(proxy));
            }
        }
        outputManager_ = nullptr;
        registry_ = nullptr;
        globals_ = WaylandGlobals{};
        wl_display_disconnect(display_);
        display_ = nullptr;
    }

    static void destroyOutput(OutputRecord& record) {
        if (record.xdg) {
            zxdg_output_v1_destroy(record.xdg);
            record.xdg = nullptr;
        }
        if (record.output) {
            if (record.version >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
                wl_output_release(record.output);
            } else {
                wl_output_destroy(record.output);
            }
            record.output = nullptr;
        }
    }

    void watchLayout(OutputRecord& record) {
        if (outputManager_ && !record.xdg) {
            record.xdg = zxdg_output_manager_v1_get_xdg_output(outputManager_, record.output);
            zxdg_output_v1_add_listener(record.xdg, &xdgOutputListener, &record);
        }
    }

    // The outputs whose layout is complete become the globals' and the state's.
    void publishOutputs(bool notify) {
        globals_.outputs.clear();
        std::vector<WaylandOutput> infos;
        for (const auto& record : outputs_) {
            if (!record->done) {
                continue;
            }
            WaylandOutput info = record->info;
            if (!record->logicalKnown) {
                // Without xdg-output: the layout position and the mode in logical pixels.
                const int scale = std::max(info.scale, 1);
                info.logical = {double(record->geometryX), double(record->geometryY),
                                double(record->modeWidth / scale),
                                double(record->modeHeight / scale)};
            }
            globals_.outputs.push_back({info, record->output});
            infos.push_back(info);
        }
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.state_.outputs = infos;
        }
        if (notify && ready_) {
            for (const auto& part : std::vector(parts_)) {
                part->outputsChanged(globals_);
            }
            owner_.post({WaylandClientEvent::Kind::outputsChanged});
        }
    }

    void onGlobal(std::uint32_t name, const char* interface, std::uint32_t version) {
        const auto bind = [&](const wl_interface* type, std::uint32_t highest) {
            return wl_registry_bind(registry_, name, type, std::min(version, highest));
        };
        const std::string which = interface;
        if (globals_.offers.size() < maxOffers) {
            globals_.offers.push_back({name, which, version});
        }
        if (which == wl_compositor_interface.name && !globals_.compositor) {
            globals_.compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
        } else if (which == wl_shm_interface.name && !globals_.shm) {
            globals_.shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
        } else if (which == wl_seat_interface.name && !globals_.seat) {
            globals_.seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 1));
        } else if (which == ext_idle_notifier_v1_interface.name && !globals_.idleNotifier) {
            globals_.idleNotifier =
                static_cast<ext_idle_notifier_v1*>(bind(&ext_idle_notifier_v1_interface, 1));
        } else if (which == org_kde_kwin_idle_interface.name && !globals_.kdeIdle) {
            globals_.kdeIdle =
                static_cast<org_kde_kwin_idle*>(bind(&org_kde_kwin_idle_interface, 1));
        } else if (which == zwlr_layer_shell_v1_interface.name && !globals_.layerShell) {
            globals_.layerShell =
                static_cast<zwlr_layer_shell_v1*>(bind(&zwlr_layer_shell_v1_interface, 4));
        } else if (which == zxdg_output_manager_v1_interface.name && !outputManager_) {
            outputManager_ =
                static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 3));
            for (auto& record : outputs_) {
                watchLayout(*record);
            }
        } else if (which == wl_output_interface.name) {
            auto record = std::make_unique<OutputRecord>();
            record->loop = this;
            record->globalName = name;
            record->version = std::min(version, 4u);
            record->info.globalName = name;
            record->output = static_cast<wl_output*>(bind(&wl_output_interface, 4));
            wl_output_add_listener(record->output, &outputListener, record.get());
            watchLayout(*record);
            outputs_.push_back(std::move(record));
        }
    }

    void onGlobalRemoved(std::uint32_t name) {
        auto& offers = globals_.offers;
        offers.erase(std::remove_if(offers.begin(), offers.end(),
                                    [name](const auto& offer) { return offer.name == name; }),
                     offers.end());
        auto found = std::find_if(outputs_.begin(), outputs_.end(), [name](const auto& record) {
            return record->globalName == name;
        });
        if (found == outputs_.end()) {
            return; // the other globals Orvane binds are the compositor's for its lifetime
        }
        const bool wasListed = (*found)->done;
        // The parts let go of the output before its object goes.
        auto record = std::move(*found);
        outputs_.erase(found);
        if (wasListed) {
            publishOutputs(true);
        }
        destroyOutput(*record);
    }

    static void outputDone(OutputRecord& record) {
        record.done = true;
        record.loop->publishOutputs(true);
    }

    static constexpr wl_registry_listener registryListener = {
        [](void* data, wl_registry*, std::uint32_t name, const char* interface,
           std::uint32_t version) { of(data).onGlobal(name, interface, version); },
        [](void* data, wl_registry*, std::uint32_t name) { of(data).onGlobalRemoved(name); },
    };

    static OutputRecord& recordOf(void* data) { return *static_cast<OutputRecord*>(data); }

    static constexpr wl_output_listener outputListener = {
        [](void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
           std::int32_t, const char*, const char*, std::int32_t) {
            recordOf(data).geometryX = x;
            recordOf(data).geometryY = y;
        },
        [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
           std::int32_t) {
            if (flags & WL_OUTPUT_MODE_CURRENT) {
                recordOf(data).modeWidth = width;
                recordOf(data).modeHeight = height;
            }
        },
        [](void* data, wl_output*) { outputDone(recordOf(data)); },
        [](void* data, wl_output*, std::int32_t factor) { recordOf(data).info.scale = factor; },
        [](void* data, wl_output*, const char* name) { recordOf(data).info.name = name; },
        [](void* data, wl_output*, const char* description) {
            recordOf(data).info.description = description;
        },
    };

    static constexpr zxdg_output_v1_listener xdgOutputListener = {
        [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
            auto& record = recordOf(data);
            record.info.logical.x = x;
            record.info.logical.y = y;
            record.logicalKnown = true;
        },
        [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
            auto& record = recordOf(data);
            record.info.logical.width = width;
            record.info.logical.height = height;
            record.logicalKnown = true;
        },
        // Before version 3 the xdg_output's own done ends its changes; later wl_output's does.
        [](void* data, zxdg_output_v1*) {
            if (recordOf(data).done) {
                recordOf(data).loop->publishOutputs(true);
            }
        },
        [](void* data, zxdg_output_v1*, const char* name) {
            if (recordOf(data).info.name.empty()) {
                recordOf(data).info.name = name;
            }
        },
        [](void* data, zxdg_output_v1*, const char* description) {
            if (recordOf(data).info.description.empty()) {
                recordOf(data).info.description = description;
            }
        },
    };

    WaylandClient& owner_;
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    WaylandGlobals globals_;
    std::vector<std::unique_ptr<OutputRecord>> outputs_;
    std::vector<std::shared_ptr<WaylandPart>> parts_;
    bool ready_ = false;
};

WaylandClient::WaylandClient(std::shared_ptr<MainQueue> mainQueue, std::string display)
    : mainQueue_(std::move(mainQueue)), display_(std::move(display)) {
    if (auto problem = startWithWakeUp(thread_, wakeFd_, [this] { run(); })) {
        logInfo("Wayland: no worker thread (" + *problem + ")");
        std::lock_guard lock(mutex_);
        state_.problem = *problem;
        settled_ = true;
    }
}

WaylandClient::~WaylandClient() {
    stopping_ = true;
    wakeJoinAndClose(thread_, wakeFd_);
}

void WaylandClient::run() {
    WaylandLoop loop(*this);
    loop.run();
}

WaylandClientState WaylandClient::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void WaylandClient::markSettled() {
    {
        std::lock_guard lock(mutex_);
        settled_ = true;
    }
    settledChanged_.notify_all();
}

bool WaylandClient::waitUntilSettled(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return settledChanged_.wait_for(lock, timeout, [this] { return settled_; });
}

void WaylandClient::push(std::function<void(WaylandLoop&)> task) {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable() || stopping_) {
            return;
        }
        tasks_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void WaylandClient::attach(std::shared_ptr<WaylandPart> part) {
    push([part = std::move(part)](WaylandLoop& loop) { loop.attach(part); });
}

void WaylandClient::detach(std::shared_ptr<WaylandPart> part) {
    push([part = std::move(part)](WaylandLoop& loop) { loop.detach(part); });
}

void WaylandClient::onWorker(std::function<void(WaylandGlobals&)> task) {
    push([task = std::move(task)](WaylandLoop& loop) { loop.runOnConnection(task); });
}

std::shared_ptr<MainQueue> WaylandClient::queue() const {
    return mainQueue_ ? mainQueue_ : platform().mainQueue;
}

void WaylandClient::post(WaylandClientEvent event) {
    listeners_.post(queue(), std::move(event));
}

Subscription WaylandClient::listen(std::function<void(const WaylandClientEvent&)> listener) {
    return listeners_.add(std::move(listener));
}

} // namespace orvane::linuxbackend
