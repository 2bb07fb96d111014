#include "backends/linux/wayland/sway/SwayLink.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/runtime/WorkerWakeUp.hpp"
#include "backends/linux/wayland/sway/SwayIpc.hpp"
#include "backends/linux/wayland/sway/SwayJson.hpp"
#include "orvane/platform/Platform.hpp"

#include <algorithm>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

using namespace std::chrono_literals;

constexpr const char* subscription = R"(["window","workspace","binding","shutdown"])";
// Output events came with sway 1.8; before, the outputs are read again with every event.
constexpr const char* outputSubscription = R"(["output"])";
// Dropped messages logged, at most: a sway gone wrong must not fill the log.

bool sameRect(const plinth::Rect& a, const plinth::Rect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

bool sameMonitors(const std::vector<CompositorMonitor>* a,
                  const std::vector<CompositorMonitor>& b) {
    return a && std::equal(a->begin(), a->end(), b.begin(), b.end(), [](auto& x, auto& y) {
               return sameRect(x.stageFrame, y.stageFrame) && x.connector == y.connector &&
                      x.name == y.name && x.primary == y.primary;
           });
}

bool sameWindows(const std::vector<CompositorWindow>* a, const std::vector<CompositorWindow>& b) {
    return a && std::equal(a->begin(), a->end(), b.begin(), b.end(), [](auto& x, auto& y) {
               return x.id == y.id && x.pid == y.pid && x.applicationId == y.applicationId &&
                      x.title == y.title && x.type == y.type && sameRect(x.frame, y.frame) &&
                      sameRect(x.buffer, y.buffer) && x.monitor == y.monitor &&
                      x.above == y.above && x.minimized == y.minimized;
           });
}

// Whether `fd` became readable within `timeout`.
bool readable(int fd, std::chrono::milliseconds timeout) {
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, static_cast<int>(timeout.count())) > 0;
}

} // namespace

SwayLink::SwayLink(std::shared_ptr<MainQueue> mainQueue, EnvironmentLookup environment)
    : state_(std::move(mainQueue)), environment_(std::move(environment)) {
    if (auto error = startWithWakeUp(thread_, wakeFd_, [this] { run(); })) {
        logPlatformError("cannot follow sway: " + *error);
        state_.markSettled();
    }
}

SwayLink::~SwayLink() {
    wakeJoinAndClose(thread_, wakeFd_);
}

std::vector<std::string> SwayLink::socketCandidates(const EnvironmentLookup& environment) {
    std::vector<std::string> paths;
    if (const char* sock = environment("SWAYSOCK"); sock && *sock) {
        paths.emplace_back(sock);
    }
    const char* runtime = environment("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) {
        return paths;
    }
    const std::string prefix = "sway-ipc." + std::to_string(::getuid()) + ".";
    std::vector<std::pair<std::filesystem::file_time_type, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(runtime, error)) {
        const auto name = entry.path().filename().string();
        std::error_code ignored;
        if (name.rfind(prefix, 0) == 0 && name.size() > 5 &&
            name.compare(name.size() - 5, 5, ".sock") == 0 && entry.is_socket(ignored)) {
            found.emplace_back(entry.last_write_time(ignored), entry.path().string());
        }
    }
    std::sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.first > b.first; });
    for (auto& [time, path] : found) {
        if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
            paths.push_back(std::move(path));
        }
    }
    return paths;
}

void SwayLink::run() {
    bool reported = false;
    for (;;) {
        std::unique_ptr<SwayIpc> events;
        std::unique_ptr<SwayIpc> queries;
        for (const auto& path : socketCandidates(environment_)) {
            events = SwayIpc::connect(path);
            queries = events ? SwayIpc::connect(path) : nullptr;
            if (queries) {
                break;
            }
            events.reset();
        }
        if (events && queries && attach(*events, *queries)) {
            reported = false;
            bool reloaded = false;
            while (events->isOpen() && queries->isOpen()) {
                auto message = events->receive(60s, wakeFd_);
                if (!message) {
                    if (readable(wakeFd_, 0ms)) {
                        return;
                    }
                    continue;
                }
                bool tree = false;
                bool outputs = false;
                bool ending = false;
                // A burst of events (a window mapped: new, focus, title) is one look at the tree.
                do {
                    switch (message->type) {
                    case SwayIpc::windowEvent:
                        tree = true;
                        outputs = outputs || !outputEvents_;
                        break;
                    case SwayIpc::workspaceEvent:
                        tree = true;
                        outputs = outputs || !outputEvents_;
                        reloaded = reloaded || SwayJson::change(message->payload) == "reload";
                        break;
                    case SwayIpc::outputEvent:
                        outputs = true;
                        break;
                    case SwayIpc::bindingEvent:
                        if (auto command = SwayJson::bindingCommand(message->payload)) {
                            CompositorEvent event(CompositorEvent::Kind::acceleratorActivated);
                            event.id = std::move(*command);
                            state_.post(std::move(event));
                        }
                        break;
                    case SwayIpc::shutdownEvent:
                        ending = true;
                        break;
                    default:
                        break;
                    }
                } while (!ending && (message = events->receive(0ms)));
                if (ending || ((tree || outputs) && !refresh(*queries, outputs))) {
                    break;
                }
                if (reloaded) {
                    // A reloaded config drops what was bound at run time: ask again.
                    reloaded = false;
                    state_.post({CompositorEvent::Kind::ready});
                }
            }
            {
                std::lock_guard lock(state_.mutex);
                const auto version = state_.snapshot.compositorVersion;
                state_.snapshot = CompositorSnapshot{};
                state_.snapshot.compositorVersion = version;
            }
            const std::string& problem =
                events->problem().empty() ? queries->problem() : events->problem();
            logInfo(problem.empty() ? "sway's IPC socket closed"
                                    : "sway sent " + problem + ": its IPC connection is closed");
            state_.post({CompositorEvent::Kind::vanished});
        } else if (!reported) {
            reported = true;
            logInfo("sway does not answer on its IPC socket (SWAYSOCK); trying again");
        }
        state_.markSettled();
        if (readable(wakeFd_, reconnectInterval)) {
            return;
        }
    }
}

bool SwayLink::attach(SwayIpc& events, SwayIpc& queries) {
    const auto subscribed = events.request(SwayIpc::subscribe, subscription, replyTimeout);
    const auto outputs = events.request(SwayIpc::subscribe, outputSubscription, replyTimeout);
    outputEvents_ = outputs && SwayJson::commandSucceeded("[" + *outputs + "]");
    const auto version = queries.request(SwayIpc::getVersion, "", replyTimeout);
    const auto seats = queries.request(SwayIpc::getSeats, "", replyTimeout);
    if (!subscribed || !SwayJson::commandSucceeded("[" + *subscribed + "]") || !version) {
        return false;
    }
    {
        std::lock_guard lock(state_.mutex);
        state_.snapshot.compositorVersion = SwayJson::version(*version).value_or("");
        seat_ = seats ? SwayJson::seatName(*seats).value_or("seat0") : "seat0";
    }
    if (!refresh(queries, true)) {
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

bool SwayLink::refresh(SwayIpc& queries, bool outputs) {
    std::shared_ptr<const std::vector<CompositorMonitor>> monitors;
    bool haveWindows = false;
    {
        std::lock_guard lock(state_.mutex);
        monitors = state_.snapshot.monitors;
        haveWindows = state_.snapshot.windows != nullptr;
    }
    // A reply that cannot be used is dropped and what was known kept; only with nothing known
    // yet is it a failure.
    bool monitorsChanged = false;
    std::string problem;
    if (outputs || !monitors) {
        const auto reply = queries.request(SwayIpc::getOutputs, "", replyTimeout);
        if (!reply) {
            return false;
        }
        if (auto read = SwayJson::monitors(*reply, &problem)) {
            monitorsChanged = !sameMonitors(monitors.get(), *read);
            if (monitorsChanged) {
                monitors = std::make_shared<const std::vector<CompositorMonitor>>(std::move(*read));
            }
        } else {
            dropped("outputs", problem);
            if (!monitors) {
                return false;
            }
        }
    }
    const auto tree = queries.request(SwayIpc::getTree, "", replyTimeout);
    if (!tree) {
        return false;
    }
    auto windows = SwayJson::windows(*tree, *monitors, &problem);
    if (!windows) {
        dropped("tree", problem);
        return haveWindows;
    }
    bool windowsChanged = false;
    bool focusChanged = false;
    bool ready = false;
    {
        std::lock_guard lock(state_.mutex);
        ready = state_.snapshot.ready;
        state_.snapshot.monitors = monitors;
        if (!sameWindows(state_.snapshot.windows.get(), windows->windows)) {
            windowsChanged = true;
            state_.snapshot.windows =
                std::make_shared<const std::vector<CompositorWindow>>(std::move(windows->windows));
        }
        focusChanged = state_.snapshot.focusWindow != windows->focus;
        state_.snapshot.focusWindow = windows->focus;
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

std::optional<std::string> SwayLink::ask(std::uint32_t type, const std::string& payload) {
    // A connection left from a sway that has since restarted fails at once: one more try on a
    // fresh one. One that timed out is not asked again, which would double the wait.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (commands_ && !commands_->isOpen()) {
            commands_.reset();
        }
        if (!commands_) {
            for (const auto& path : socketCandidates(environment_)) {
                if ((commands_ = SwayIpc::connect(path))) {
                    break;
                }
            }
        }
        if (!commands_) {
            return std::nullopt;
        }
        const auto started = std::chrono::steady_clock::now();
        if (auto reply = commands_->request(type, payload, replyTimeout)) {
            return reply;
        }
        if (!commands_->problem().empty()) {
            dropped("reply", commands_->problem());
        }
        if (std::chrono::steady_clock::now() - started > 100ms) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool SwayLink::runCommand(const std::string& command, std::string* error) {
    const auto reply = ask(SwayIpc::runCommand, command);
    if (!reply) {
        if (error) {
            *error = "sway did not answer";
        }
        return false;
    }
    return SwayJson::commandSucceeded(*reply, error);
}

std::optional<std::string> SwayLink::loadedConfig() {
    const auto reply = ask(SwayIpc::getConfig, "");
    return reply ? SwayJson::configText(*reply) : std::nullopt;
}

std::optional<std::uint64_t> SwayLink::activateWindow(std::uint64_t id) {
    if (!runCommand("[con_id=" + std::to_string(id) + "] focus")) {
        return std::nullopt;
    }
    // sway focuses before it answers; the tree says whether the window took it.
    const auto tree = ask(SwayIpc::getTree, "");
    std::shared_ptr<const std::vector<CompositorMonitor>> monitors;
    {
        std::lock_guard lock(state_.mutex);
        monitors = state_.snapshot.monitors;
    }
    std::string problem = "no answer";
    const auto windows =
        tree ? SwayJson::windows(*tree, monitors ? *monitors : std::vector<CompositorMonitor>{},
                                 &problem)
             : std::nullopt;
    if (!windows) {
        dropped("tree", problem);
        return std::nullopt;
    }
    return windows->focus;
}

bool SwayLink::warpPointer(int x, int y) {
    std::string seat;
    {
        std::lock_guard lock(state_.mutex);
        seat = seat_.empty() ? "seat0" : seat_;
    }
    return runCommand("seat " + seat + " cursor set " + std::to_string(x) + " " +
                      std::to_string(y));
}

std::optional<plinth::Point> SwayLink::queryPointer() {
    return std::nullopt; // sway's IPC does not tell where the pointer is
}

bool SwayLink::postKey(std::uint32_t, bool) {
    return false;
}

bool SwayLink::watchInput(unsigned) {
    return false;
}

} // namespace orvane::linuxbackend
