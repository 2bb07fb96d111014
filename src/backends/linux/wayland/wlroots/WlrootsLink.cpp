#include "backends/linux/wayland/wlroots/WlrootsLink.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/wayland/CompositorLinkState.hpp"
#include "backends/linux/wayland/client/ForeignToplevelClient.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "orvane/platform/Platform.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace orvane::linuxbackend {

// The link's state and its objects on the connection: the worker writes, any thread reads a
// copy under the lock. Shared with the client's worker, which may hold it a little longer than
// the link lives.
class WlrootsLink::Part : public WaylandPart {
public:
    Part(std::shared_ptr<MainQueue> mainQueue, bool ignoreManager)
        : state(std::move(mainQueue)),
          toplevels_(
              "wlroots", [this](bool focusChanged) { publish(true, false, focusChanged); },
              ignoreManager ? ForeignToplevelClient::Lists::extOnly
                            : ForeignToplevelClient::Lists::wlrootsElseExt) {}

    // --- worker ---------------------------------------------------------------------------
    void connected(WaylandGlobals& globals) override {
        display_ = globals.display;
        seat_ = globals.seat;
        takeOutputs(globals);
        if (!toplevels_.bind(globals, false)) {
            {
                std::lock_guard lock(state.mutex);
                problem_ = "the compositor offers no list of windows (" +
                           std::string(managerInterface) + " or " + listInterface + ")";
                listsOnly_ = false;
            }
            publish(false);
            state.markSettled();
            return;
        }
        const bool listsOnly = toplevels_.source() == ForeignToplevelClient::Source::ext;
        {
            std::lock_guard lock(state.mutex);
            problem_.clear();
            listsOnly_ = listsOnly;
            state.snapshot.present = true;
        }
        if (listsOnly && !toldListsOnly_) {
            toldListsOnly_ = true;
            logInfo("wlroots: the compositor lists windows (" + std::string(listInterface) +
                    ") but does not let Orvane move focus: it offers no " + managerInterface);
        }
        // The toplevels come at once after the bind: the first list is whole once the
        // compositor answers this.
        listed_ = wl_display_sync(display_);
        wl_callback_add_listener(listed_, &listedListener, this);
    }

    void outputsChanged(WaylandGlobals& globals) override {
        takeOutputs(globals);
        publish(true, true);
    }

    void disconnecting() override {
        for (const auto& mark : activations_) {
            wl_callback_destroy(mark->callback);
        }
        activations_.clear();
        if (listed_) {
            wl_callback_destroy(listed_);
            listed_ = nullptr;
        }
        toplevels_.release();
        outputs_.clear();
        seat_ = nullptr;
        display_ = nullptr;
        bool wasReady = false;
        {
            std::lock_guard lock(state.mutex);
            wasReady = state.snapshot.ready;
            state.snapshot = CompositorSnapshot{};
            listsOnly_ = false;
        }
        state.changed.notify_all();
        if (wasReady) {
            state.post(CompositorEvent::Kind::vanished);
        }
    }

    // Sends the activation of `id` and a mark that tells when the compositor has read it.
    void activate(std::uint64_t id, std::uint64_t token) {
        if (!display_ || !toplevels_.activate(id, seat_)) {
            answer(token, false);
            return;
        }
        auto mark = std::make_unique<ActivationMark>(ActivationMark{this, token, nullptr});
        mark->callback = wl_display_sync(display_);
        wl_callback_add_listener(mark->callback, &activationListener, mark.get());
        activations_.push_back(std::move(mark));
    }

    // --- any thread -----------------------------------------------------------------------
    std::string problem() const {
        std::lock_guard lock(state.mutex);
        if (!problem_.empty()) {
            return problem_;
        }
        return state.snapshot.ready ? std::string() : std::string("no Wayland connection yet");
    }

    bool listsOnly() const {
        std::lock_guard lock(state.mutex);
        return listsOnly_;
    }

    std::uint64_t nextToken() {
        std::lock_guard lock(state.mutex);
        return ++requested_;
    }

    // Whether `id` is the activated window once the compositor has read request `token`;
    // nullopt while that is not known yet.
    std::optional<bool> activated(std::uint64_t id, std::uint64_t token) const {
        if (failed_ >= token || !state.snapshot.ready) {
            return false;
        }
        if (read_ < token || state.snapshot.focusWindow != id) {
            return std::nullopt;
        }
        return true;
    }

    CompositorLinkState state;

private:
    struct ActivationMark {
        Part* part = nullptr;
        std::uint64_t token = 0;
        wl_callback* callback = nullptr;
    };

    std::string problem_;         // guarded by state.mutex
    bool listsOnly_ = false;      // guarded by state.mutex
    std::uint64_t requested_ = 0; // guarded by state.mutex: the last activation asked for
    std::uint64_t read_ = 0;      // guarded by state.mutex: the last one the compositor read
    std::uint64_t failed_ = 0;    // guarded by state.mutex: the last one that could not be sent

    // Worker only.
    wl_display* display_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_callback* listed_ = nullptr;
    bool toldListsOnly_ = false; // said once in the log, however often the link reconnects
    std::vector<std::unique_ptr<ActivationMark>> activations_;
    std::vector<ToplevelOutput> outputs_;
    ForeignToplevelClient toplevels_;

    void answer(std::uint64_t token, bool read) {
        {
            std::lock_guard lock(state.mutex);
            if (read) {
                read_ = std::max(read_, token);
            } else {
                failed_ = std::max(failed_, token);
            }
        }
        state.changed.notify_all();
    }

    void takeOutputs(const WaylandGlobals& globals) {
        outputs_.clear();
        for (const auto& output : globals.outputs) {
            ToplevelOutput entry;
            entry.key = reinterpret_cast<std::uintptr_t>(output.output);
            entry.monitor.stageFrame = output.info.logical;
            entry.monitor.connector = output.info.name;
            entry.monitor.name =
                output.info.description.empty() ? output.info.name : output.info.description;
            outputs_.push_back(std::move(entry));
        }
        // Left to right, then top to bottom, whatever order the registry listed them in.
        std::stable_sort(outputs_.begin(), outputs_.end(), [](const auto& a, const auto& b) {
            const auto& p = a.monitor.stageFrame;
            const auto& q = b.monitor.stageFrame;
            return p.x != q.x ? p.x < q.x : p.y < q.y;
        });
    }

    // Makes the snapshot anew from the worker's state and says what changed.
    void publish(bool windowsChanged, bool monitorsChanged = false, bool focusChanged = false) {
        auto windows = std::make_shared<const std::vector<CompositorWindow>>(
            toplevels_.toplevels().windows(outputs_));
        std::vector<CompositorMonitor> monitorList;
        for (const auto& output : outputs_) {
            monitorList.push_back(output.monitor);
        }
        auto monitors = std::make_shared<const std::vector<CompositorMonitor>>(monitorList);
        bool ready = false;
        {
            std::lock_guard lock(state.mutex);
            state.snapshot.windows = windows;
            state.snapshot.monitors = monitors;
            state.snapshot.focusWindow = toplevels_.toplevels().focused();
            ready = state.snapshot.ready;
        }
        state.changed.notify_all();
        if (!ready) {
            return;
        }
        if (monitorsChanged) {
            state.post(CompositorEvent::Kind::monitorsChanged);
        }
        if (windowsChanged) {
            state.post(CompositorEvent::Kind::windowsChanged);
        }
        if (focusChanged) {
            state.post(CompositorEvent::Kind::focusChanged);
        }
    }

    void onListed() {
        wl_callback_destroy(listed_);
        listed_ = nullptr;
        {
            std::lock_guard lock(state.mutex);
            state.snapshot.ready = true;
        }
        publish(false);
        state.post(CompositorEvent::Kind::ready);
        state.markSettled();
    }

    void onActivationRead(ActivationMark* mark) {
        const std::uint64_t token = mark->token;
        wl_callback_destroy(mark->callback);
        activations_.erase(std::remove_if(activations_.begin(), activations_.end(),
                                          [mark](const auto& held) { return held.get() == mark; }),
                           activations_.end());
        answer(token, true);
    }

    static Part& of(void* data) { return *static_cast<Part*>(data); }

    static constexpr wl_callback_listener listedListener = {
        [](void* data, wl_callback*, std::uint32_t) { of(data).onListed(); },
    };

    static constexpr wl_callback_listener activationListener = {
        [](void* data, wl_callback*, std::uint32_t) {
            auto* mark = static_cast<ActivationMark*>(data);
            mark->part->onActivationRead(mark);
        },
    };
};

WlrootsLink::WlrootsLink(std::shared_ptr<WaylandClient> client,
                         std::shared_ptr<MainQueue> mainQueue, bool ignoreManager)
    : client_(std::move(client)),
      part_(std::make_shared<Part>(std::move(mainQueue), ignoreManager)) {
    client_->attach(part_);
}

WlrootsLink::~WlrootsLink() {
    part_->state.listeners.clear();
    client_->detach(part_);
}

CompositorSnapshot WlrootsLink::snapshot() const {
    return part_->state.current();
}

Subscription WlrootsLink::listen(std::function<void(const CompositorEvent&)> listener) {
    return part_->state.listeners.add(std::move(listener));
}

std::optional<std::uint64_t> WlrootsLink::activateWindow(std::uint64_t id) {
    if (!part_->state.current().ready) {
        return std::nullopt;
    }
    const std::uint64_t token = part_->nextToken();
    client_->onWorker([part = part_, id, token](WaylandGlobals&) { part->activate(id, token); });
    std::unique_lock lock(part_->state.mutex);
    std::optional<bool> outcome;
    part_->state.changed.wait_for(lock, activationTimeout, [&] {
        outcome = part_->activated(id, token);
        return outcome.has_value();
    });
    if (outcome.value_or(false)) {
        return id;
    }
    return std::nullopt;
}

bool WlrootsLink::waitUntilSettled(std::chrono::milliseconds timeout) const {
    const auto until = std::chrono::steady_clock::now() + timeout;
    if (!client_->waitUntilSettled(timeout)) {
        return false;
    }
    // No connection: nothing more will be heard until there is one.
    if (!client_->state().connected) {
        return true;
    }
    return part_->state.waitUntilSettled(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(until - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration{})));
}

std::string WlrootsLink::problem() const {
    return part_->problem();
}

bool WlrootsLink::listsOnly() const {
    return part_->listsOnly();
}

} // namespace orvane::linuxbackend
