#include "backends/linux/wayland/hyprland/HyprlandLink.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/runtime/WorkerWakeUp.hpp"
#include "backends/linux/wayland/hyprland/HyprlandIpc.hpp"
#include "orvane/platform/Platform.hpp"

#include <algorithm>
#include <poll.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;

// Dropped replies logged, at most: a Hyprland gone wrong must not fill the log.

bool sameMonitors(const std::vector<CompositorMonitor>* a,
                  const std::vector<CompositorMonitor>& b) {
    return a && std::equal(a->begin(), a->end(), b.begin(), b.end(), [](auto& x, auto& y) {
               return x.stageFrame == y.stageFrame && x.connector == y.connector &&
                      x.name == y.name && x.primary == y.primary;
           });
}

bool sameWindows(const std::vector<CompositorWindow>* a, const std::vector<CompositorWindow>& b) {
    return a && std::equal(a->begin(), a->end(), b.begin(), b.end(), [](auto& x, auto& y) {
               return x.id == y.id && x.pid == y.pid && x.applicationId == y.applicationId &&
                      x.title == y.title && x.type == y.type && x.frame == y.frame &&
                      x.buffer == y.buffer && x.monitor == y.monitor && x.above == y.above &&
                      x.minimized == y.minimized;
           });
}

bool readable(int fd, std::chrono::milliseconds timeout) {
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, static_cast<int>(timeout.count())) > 0;
}

const CompositorWindow* findWindow(const std::vector<CompositorWindow>& windows, std::uint64_t id) {
    const auto found = std::find_if(windows.begin(), windows.end(),
                                    [id](const CompositorWindow& w) { return w.id == id; });
    return found == windows.end() ? nullptr : &*found;
}

std::string requestSocketIn(const std::string& folder) {
    return folder + "/" + HyprlandIpc::requestSocket;
}

} // namespace

HyprlandLink::HyprlandLink(std::shared_ptr<MainQueue> mainQueue, EnvironmentLookup environment,
                           std::shared_ptr<HyprlandToplevelSource> toplevels)
    : state_(std::move(mainQueue)), environment_(std::move(environment)),
      toplevels_(std::move(toplevels)) {
    if (auto error = startWithWakeUp(thread_, wakeFd_, [this] { run(); })) {
        logPlatformError("cannot follow Hyprland: " + *error);
        state_.markSettled();
    }
}

HyprlandLink::~HyprlandLink() {
    wakeJoinAndClose(thread_, wakeFd_);
}

void HyprlandLink::run() {
    bool reported = false;
    for (;;) {
        std::unique_ptr<HyprlandIpc> events;
        std::string folder;
        std::string problem = "HYPRLAND_INSTANCE_SIGNATURE is not set";
        for (const auto& candidate : HyprlandIpc::instanceFolders(environment_)) {
            if ((events =
                     HyprlandIpc::listen(candidate + "/" + HyprlandIpc::eventSocket, &problem))) {
                folder = candidate;
                break;
            }
        }
        if (events && attach(folder)) {
            reported = false;
            std::size_t garbage = 0;
            std::size_t overlong = 0; // of those the socket dropped, the ones already said
            while (events->isOpen()) {
                auto line = events->receive(quietRefresh, wakeFd_);
                if (!line) {
                    if (readable(wakeFd_, 0ms)) {
                        return;
                    }
                    if (events->isOpen()) {
                        refresh(false);
                    }
                    continue;
                }
                // A burst of events (a window opened: open, focus, title) is one look.
                auto touched = HyprlandJson::Touches::nothing;
                do {
                    const auto event = HyprlandJson::event(*line);
                    if (!event) {
                        ++garbage;
                        continue;
                    }
                    touched = std::max(touched, HyprlandJson::touches(event->name));
                } while ((line = events->receive(0ms)));
                if (garbage > 0 || events->droppedLines() > overlong) {
                    dropped("events", std::to_string(garbage + events->droppedLines() - overlong) +
                                          " lines that are not events");
                    garbage = 0;
                    overlong = events->droppedLines();
                }
                if (touched != HyprlandJson::Touches::nothing) {
                    refresh(touched == HyprlandJson::Touches::windowsAndMonitors);
                }
            }
            {
                std::lock_guard lock(state_.mutex);
                const auto version = state_.snapshot.compositorVersion;
                state_.snapshot = CompositorSnapshot{};
                state_.snapshot.compositorVersion = version;
                monitors_.clear();
            }
            logInfo("Hyprland's event socket closed");
            state_.post({CompositorEvent::Kind::vanished});
        } else if (!reported) {
            reported = true;
            logInfo("Hyprland does not answer on its sockets (" + problem + "); trying again");
        }
        state_.markSettled();
        if (readable(wakeFd_, reconnectInterval)) {
            return;
        }
    }
}

bool HyprlandLink::attach(const std::string& folder) {
    {
        std::lock_guard lock(state_.mutex);
        folder_ = folder;
    }
    const auto version = ask("j/version");
    if (!version) {
        return false;
    }
    {
        std::lock_guard lock(state_.mutex);
        state_.snapshot.compositorVersion = HyprlandJson::version(*version).value_or("");
    }
    if (!refresh(true)) {
        return false;
    }
    {
        std::lock_guard lock(state_.mutex);
        state_.snapshot.present = true;
        state_.snapshot.ready = true;
    }
    state_.post({CompositorEvent::Kind::ready});
    state_.markSettled();
    return true;
}

bool HyprlandLink::refresh(bool readMonitors) {
    std::vector<HyprlandJson::Monitor> monitors;
    std::shared_ptr<const std::vector<CompositorMonitor>> known;
    {
        std::lock_guard lock(state_.mutex);
        monitors = monitors_;
        known = state_.snapshot.monitors;
    }
    // A reply that cannot be used is dropped and what was known kept; only monitors never
    // read are a failure.
    std::string problem;
    if (readMonitors || !known) {
        const auto reply = ask("j/monitors");
        auto read = reply ? HyprlandJson::monitors(*reply, &problem) : std::nullopt;
        if (read) {
            monitors = std::move(*read);
        } else {
            dropped("monitors", reply ? problem : "no answer");
            if (!known) {
                return false;
            }
        }
    }
    std::vector<CompositorMonitor> plain;
    for (const auto& monitor : monitors) {
        plain.push_back(monitor.monitor);
    }
    const auto clients = ask("j/clients");
    auto windows = clients ? HyprlandJson::windows(*clients, monitors, &problem) : std::nullopt;
    if (!windows && clients) {
        dropped("clients", problem);
    }
    const auto active = ask("j/activewindow");
    const auto focus = active ? HyprlandJson::activeWindow(*active) : std::nullopt;
    bool monitorsChanged = false;
    bool windowsChanged = false;
    bool focusChanged = false;
    bool ready = false;
    {
        std::lock_guard lock(state_.mutex);
        ready = state_.snapshot.ready;
        monitors_ = monitors;
        if (!sameMonitors(state_.snapshot.monitors.get(), plain)) {
            monitorsChanged = true;
            state_.snapshot.monitors =
                std::make_shared<const std::vector<CompositorMonitor>>(std::move(plain));
        }
        // Clients never read give no windows rather than none known.
        if (windows || !state_.snapshot.windows) {
            auto list = windows ? std::move(*windows) : std::vector<CompositorWindow>{};
            if (!sameWindows(state_.snapshot.windows.get(), list)) {
                windowsChanged = true;
                state_.snapshot.windows =
                    std::make_shared<const std::vector<CompositorWindow>>(std::move(list));
            }
        }
        // No answer keeps the focus known (value_or rather than a test: GCC's -O3 takes the
        // test for a read of an empty optional).
        if (const auto window = focus.value_or(state_.snapshot.focusWindow);
            window != state_.snapshot.focusWindow) {
            focusChanged = true;
            state_.snapshot.focusWindow = window;
        }
    }
    // The first look is announced as `ready`, not as changes.
    if (ready) {
        if (monitorsChanged) {
            state_.post({CompositorEvent::Kind::monitorsChanged});
        }
        if (windowsChanged) {
            state_.post({CompositorEvent::Kind::windowsChanged});
        }
        if (focusChanged) {
            state_.post({CompositorEvent::Kind::focusChanged});
        }
    }
    return true;
}

std::optional<std::string> HyprlandLink::ask(const std::string& request) {
    std::string folder;
    {
        std::lock_guard lock(state_.mutex);
        folder = folder_;
    }
    std::string problem;
    if (folder.empty()) {
        for (const auto& candidate : HyprlandIpc::instanceFolders(environment_)) {
            if (HyprlandIpc::trusted(requestSocketIn(candidate), ::getuid())) {
                folder = candidate;
                break;
            }
        }
        if (folder.empty()) {
            return std::nullopt;
        }
    }
    auto reply = HyprlandIpc::request(requestSocketIn(folder), request, replyTimeout, &problem);
    if (!reply) {
        dropped("answer to " + request.substr(0, 64), problem);
    }
    return reply;
}

std::optional<std::uint64_t> HyprlandLink::activateWindow(std::uint64_t id) {
    const auto known = snapshot();
    if (!known.ready) {
        return std::nullopt;
    }
    auto outcome = HyprlandToplevelSource::Outcome::absent;
    if (toplevels_) {
        std::string applicationId;
        std::string title;
        if (known.windows) {
            if (const auto* window = findWindow(*known.windows, id)) {
                applicationId = window->applicationId;
                title = window->title;
            }
        }
        outcome = toplevels_->activate(id, applicationId, title);
    }
    sayRoute(outcome);
    if (outcome != HyprlandToplevelSource::Outcome::sent && !dispatchFocus(id)) {
        return std::nullopt;
    }
    // Hyprland focuses before it answers, but a window on a workspace being switched to may
    // take a moment: the focus is asked until it is there or the wait is over.
    const auto deadline = std::chrono::steady_clock::now() + activationWait;
    for (;;) {
        const auto active = ask("j/activewindow");
        const auto focus = active ? HyprlandJson::activeWindow(*active) : std::nullopt;
        if (!focus) {
            return std::nullopt;
        }
        if (*focus == id || std::chrono::steady_clock::now() >= deadline) {
            return focus;
        }
        std::this_thread::sleep_for(20ms);
    }
}

bool HyprlandLink::dispatchFocus(std::uint64_t id) {
    // By address, which names one window whatever the class and title say. A Hyprland
    // configured in Lua reads a dispatch as Lua: the form it took last is tried first.
    const auto forms = HyprlandJson::focusRequests(id);
    const bool luaFirst = luaDispatch_.load();
    std::string error;
    for (const bool lua : {luaFirst, !luaFirst}) {
        const auto reply = ask(lua ? forms.lua : forms.classic);
        if (!reply) {
            return false; // asked again, the wait would double
        }
        if (HyprlandJson::dispatched(*reply, &error)) {
            luaDispatch_ = lua;
            return true;
        }
    }
    dropped("dispatch", error);
    return false;
}

void HyprlandLink::sayRoute(HyprlandToplevelSource::Outcome outcome) {
    const unsigned bit = 1u << static_cast<unsigned>(outcome);
    if (routesSaid_.fetch_or(bit) & bit) {
        return;
    }
    logInfo(outcome == HyprlandToplevelSource::Outcome::sent
                ? std::string("Hyprland: windows are activated through the foreign-toplevel "
                              "protocol")
                : std::string("Hyprland: a window is activated by a focus dispatch (") +
                      describe(outcome) + ")");
}

bool HyprlandLink::warpPointer(int x, int y) {
    const auto reply = ask("dispatch movecursor " + std::to_string(x) + " " + std::to_string(y));
    return reply && HyprlandJson::dispatched(*reply);
}

std::optional<plinth::Point> HyprlandLink::queryPointer() {
    const auto reply = ask("j/cursorpos");
    return reply ? HyprlandJson::cursor(*reply) : std::nullopt;
}

bool HyprlandLink::postKey(std::uint32_t, bool) {
    return false; // Hyprland's sockets have no keys to post
}

bool HyprlandLink::watchInput(unsigned) {
    return false;
}

} // namespace orvane::linuxbackend
