#include "backends/linux/wayland/hyprland/HyprlandToplevels.hpp"

#include "backends/linux/wayland/client/ForeignToplevelClient.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace orvane::linuxbackend {

using Outcome = HyprlandToplevelSource::Outcome;

const char* describe(Outcome outcome) {
    switch (outcome) {
    case Outcome::sent:
        return "activated through the foreign-toplevel protocol";
    case Outcome::absent:
        return "no foreign-toplevel list offered";
    case Outcome::unmatched:
        return "no foreign toplevel matched the window";
    case Outcome::ambiguous:
        return "several foreign toplevels have the window's app id and title";
    case Outcome::refused:
        return "the foreign toplevel's activation was not taken";
    }
    return "";
}

ToplevelMatch matchToplevel(const std::vector<ToplevelCandidate>& candidates, bool mapping,
                            std::uint64_t address, std::string_view applicationId,
                            std::string_view title) {
    // The list keeps its strings bounded: the window's are cut alike before comparing.
    const std::string wantedId = ForeignToplevels::bounded(applicationId);
    const std::string wantedTitle = ForeignToplevels::bounded(title);
    if (!mapping && wantedId.empty() && wantedTitle.empty()) {
        return {}; // a window the IPC does not list: nothing to compare
    }
    ToplevelMatch match;
    std::size_t fits = 0;
    for (const auto& candidate : candidates) {
        const bool fit =
            mapping ? candidate.address == address
                    : candidate.applicationId == wantedId && candidate.title == wantedTitle;
        if (fit) {
            ++fits;
            match.id = candidate.id;
        }
    }
    if (fits == 0) {
        return {};
    }
    match.outcome = fits == 1 ? Outcome::sent : Outcome::ambiguous;
    if (fits > 1) {
        match.id = 0;
    }
    return match;
}

// The objects on the connection; the worker writes, a waiting caller reads its answer under
// the lock. Shared with the client's worker, which may hold it a little longer.
class HyprlandToplevels::Part : public WaylandPart {
public:
    struct Pending {
        std::optional<Outcome> outcome; // guarded by the part's mutex
    };

    Part() : toplevels_("Hyprland", nullptr) {}

    // --- worker ---------------------------------------------------------------------------
    void connected(WaylandGlobals& globals) override {
        display_ = globals.display;
        seat_ = globals.seat;
        toplevels_.bind(globals, true);
    }

    void disconnecting() override {
        for (const auto& mark : marks_) {
            wl_callback_destroy(mark->callback);
            answer(*mark->pending, Outcome::refused);
        }
        marks_.clear();
        toplevels_.release();
        seat_ = nullptr;
        display_ = nullptr;
    }

    void activate(std::uint64_t address, const std::string& applicationId, const std::string& title,
                  const std::shared_ptr<Pending>& pending) {
        if (!toplevels_.bound() || !display_) {
            answer(*pending, Outcome::absent);
            return;
        }
        std::vector<ToplevelCandidate> candidates;
        for (const auto& window : toplevels_.toplevels().windows({})) {
            candidates.push_back({window.id, window.applicationId, window.title,
                                  toplevels_.windowAddress(window.id)});
        }
        const auto match =
            matchToplevel(candidates, toplevels_.mapping(), address, applicationId, title);
        if (match.outcome != Outcome::sent) {
            answer(*pending, match.outcome);
            return;
        }
        if (!toplevels_.activate(match.id, seat_)) {
            answer(*pending, Outcome::refused);
            return;
        }
        // Read once Hyprland answers what follows it.
        auto mark = std::make_unique<Mark>(Mark{this, pending, nullptr});
        mark->callback = wl_display_sync(display_);
        wl_callback_add_listener(mark->callback, &readListener, mark.get());
        marks_.push_back(std::move(mark));
    }

    // --- any thread -----------------------------------------------------------------------
    std::mutex mutex;
    std::condition_variable answered;

private:
    struct Mark {
        Part* part = nullptr;
        std::shared_ptr<Pending> pending;
        wl_callback* callback = nullptr;
    };

    void answer(Pending& pending, Outcome outcome) {
        {
            std::lock_guard lock(mutex);
            pending.outcome = outcome;
        }
        answered.notify_all();
    }

    void onRead(Mark* mark) {
        wl_callback_destroy(mark->callback);
        answer(*mark->pending, Outcome::sent);
        marks_.erase(std::remove_if(marks_.begin(), marks_.end(),
                                    [mark](const auto& held) { return held.get() == mark; }),
                     marks_.end());
    }

    static constexpr wl_callback_listener readListener = {
        [](void* data, wl_callback*, std::uint32_t) {
            auto* mark = static_cast<Mark*>(data);
            mark->part->onRead(mark);
        },
    };

    // Worker only.
    wl_display* display_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::vector<std::unique_ptr<Mark>> marks_;
    ForeignToplevelClient toplevels_;
};

HyprlandToplevels::HyprlandToplevels(std::shared_ptr<WaylandClient> client)
    : client_(std::move(client)), part_(std::make_shared<Part>()) {
    client_->attach(part_);
}

HyprlandToplevels::~HyprlandToplevels() {
    client_->detach(part_);
}

Outcome HyprlandToplevels::activate(std::uint64_t address, const std::string& applicationId,
                                    const std::string& title) {
    if (!client_->state().connected) {
        return Outcome::absent;
    }
    auto pending = std::make_shared<Part::Pending>();
    client_->onWorker([part = part_, address, applicationId, title, pending](WaylandGlobals&) {
        part->activate(address, applicationId, title, pending);
    });
    std::unique_lock lock(part_->mutex);
    // Not read in time (or the connection went first): the dispatch is left to do it.
    part_->answered.wait_for(lock, readTimeout, [&] { return pending->outcome.has_value(); });
    return pending->outcome.value_or(Outcome::refused);
}

} // namespace orvane::linuxbackend
