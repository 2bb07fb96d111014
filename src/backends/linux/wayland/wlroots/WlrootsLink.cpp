#include "backends/linux/wayland/wlroots/WlrootsLink.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/wayland/CompositorLinkState.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "backends/linux/wayland/wlroots/WlrootsToplevels.hpp"
#include "orvane/platform/Platform.hpp"

#include <wayland-client.h>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

namespace orvane::linuxbackend {

// The link's state and its objects on the connection: the worker writes, any thread reads a
// copy under the lock. Shared with the client's worker, which may hold it a little longer than
// the link lives.
class WlrootsLink::Part : public WaylandPart {
public:
    explicit Part(std::shared_ptr<MainQueue> mainQueue) : state(std::move(mainQueue)) {}

    // --- worker ---------------------------------------------------------------------------
    void connected(WaylandGlobals& globals) override {
        display_ = globals.display;
        seat_ = globals.seat;
        takeOutputs(globals);
        const auto offer =
            std::find_if(globals.offers.begin(), globals.offers.end(),
                         [](const auto& o) { return o.interface == managerInterface; });
        if (offer == globals.offers.end() || !globals.registry) {
            {
                std::lock_guard lock(state.mutex);
                problem_ = "the compositor offers no list of windows (" +
                           std::string(managerInterface) + ")";
            }
            publish(false);
            state.markSettled();
            return;
        }
        manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
            globals.registry, offer->name, &zwlr_foreign_toplevel_manager_v1_interface,
            std::min(offer->version, 3u)));
        zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &managerListener, this);
        {
            std::lock_guard lock(state.mutex);
            problem_.clear();
            state.snapshot.present = true;
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
        for (auto& [id, record] : handles_) {
            zwlr_foreign_toplevel_handle_v1_destroy(record->handle);
        }
        handles_.clear();
        for (const auto& mark : activations_) {
            wl_callback_destroy(mark->callback);
        }
        activations_.clear();
        if (listed_) {
            wl_callback_destroy(listed_);
            listed_ = nullptr;
        }
        if (manager_) {
            zwlr_foreign_toplevel_manager_v1_destroy(manager_);
            manager_ = nullptr;
        }
        toplevels_.clear();
        outputs_.clear();
        seat_ = nullptr;
        display_ = nullptr;
        bool wasReady = false;
        {
            std::lock_guard lock(state.mutex);
            wasReady = state.snapshot.ready;
            state.snapshot = CompositorSnapshot{};
        }
        state.changed.notify_all();
        if (wasReady) {
            state.post(CompositorEvent::Kind::vanished);
        }
    }

    // Sends the activation of `id` and a mark that tells when the compositor has read it.
    void activate(std::uint64_t id, std::uint64_t token) {
        auto found = handles_.find(id);
        if (found == handles_.end() || !seat_ || !display_) {
            answer(token, false);
            return;
        }
        zwlr_foreign_toplevel_handle_v1_activate(found->second->handle, seat_);
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
    struct HandleRecord {
        Part* part = nullptr;
        std::uint64_t id = 0;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    };
    struct ActivationMark {
        Part* part = nullptr;
        std::uint64_t token = 0;
        wl_callback* callback = nullptr;
    };

    std::string problem_;         // guarded by state.mutex
    std::uint64_t requested_ = 0; // guarded by state.mutex: the last activation asked for
    std::uint64_t read_ = 0;      // guarded by state.mutex: the last one the compositor read
    std::uint64_t failed_ = 0;    // guarded by state.mutex: the last one that could not be sent

    // Worker only.
    wl_display* display_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    wl_callback* listed_ = nullptr;
    std::vector<std::unique_ptr<ActivationMark>> activations_;
    std::map<std::uint64_t, std::unique_ptr<HandleRecord>> handles_;
    std::vector<WlrootsOutput> outputs_;
    WlrootsToplevels toplevels_;
    bool tooMany_ = false;

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
            WlrootsOutput entry;
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
        auto windows =
            std::make_shared<const std::vector<CompositorWindow>>(toplevels_.windows(outputs_));
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
            state.snapshot.focusWindow = toplevels_.focused();
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

    void onToplevel(zwlr_foreign_toplevel_handle_v1* handle) {
        const std::uint64_t id = toplevels_.add();
        if (id == 0) {
            // More windows than anyone has: the rest are not followed.
            if (!tooMany_) {
                tooMany_ = true;
                logInfo("wlroots: more than " + std::to_string(WlrootsToplevels::maxToplevels) +
                        " windows listed; the others are ignored");
            }
            zwlr_foreign_toplevel_handle_v1_destroy(handle);
            return;
        }
        auto record = std::make_unique<HandleRecord>(HandleRecord{this, id, handle});
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, record.get());
        handles_.emplace(id, std::move(record));
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

    void onDone(std::uint64_t id) {
        const bool focus = toplevels_.done(id);
        publish(true, false, focus);
    }

    void onClosed(HandleRecord* record) {
        const std::uint64_t id = record->id;
        const bool focus = toplevels_.close(id);
        zwlr_foreign_toplevel_handle_v1_destroy(record->handle);
        handles_.erase(id); // frees `record`
        publish(true, false, focus);
    }

    static Part& of(void* data) { return *static_cast<Part*>(data); }
    static HandleRecord& recordOf(void* data) { return *static_cast<HandleRecord*>(data); }

    static void onState(void* data, wl_array* states) {
        auto& record = recordOf(data);
        bool activated = false;
        bool minimized = false;
        const auto* values = static_cast<const std::uint32_t*>(states->data);
        // A handful of states exist; a longer list is read no further.
        const std::size_t count = std::min<std::size_t>(states->size / sizeof(std::uint32_t), 32);
        for (std::size_t index = 0; index < count; ++index) {
            activated =
                activated || values[index] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
            minimized =
                minimized || values[index] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED;
        }
        record.part->toplevels_.setState(record.id, activated, minimized);
    }

    static constexpr zwlr_foreign_toplevel_manager_v1_listener managerListener = {
        [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
            of(data).onToplevel(handle);
        },
        [](void* data, zwlr_foreign_toplevel_manager_v1* manager) {
            auto& part = of(data);
            zwlr_foreign_toplevel_manager_v1_destroy(manager);
            part.manager_ = nullptr;
        },
    };

    static constexpr zwlr_foreign_toplevel_handle_v1_listener handleListener = {
        [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
            auto& record = recordOf(data);
            record.part->toplevels_.setTitle(record.id, title ? title : "");
        },
        [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* applicationId) {
            auto& record = recordOf(data);
            record.part->toplevels_.setApplicationId(record.id, applicationId ? applicationId : "");
        },
        [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
            auto& record = recordOf(data);
            record.part->toplevels_.enterOutput(record.id,
                                                reinterpret_cast<std::uintptr_t>(output));
        },
        [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
            auto& record = recordOf(data);
            record.part->toplevels_.leaveOutput(record.id,
                                                reinterpret_cast<std::uintptr_t>(output));
        },
        [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
            onState(data, states);
        },
        [](void* data, zwlr_foreign_toplevel_handle_v1*) {
            auto& record = recordOf(data);
            record.part->onDone(record.id);
        },
        [](void* data, zwlr_foreign_toplevel_handle_v1*) {
            auto& record = recordOf(data);
            record.part->onClosed(&record);
        },
        [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
    };

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
                         std::shared_ptr<MainQueue> mainQueue)
    : client_(std::move(client)), part_(std::make_shared<Part>(std::move(mainQueue))) {
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

} // namespace orvane::linuxbackend
