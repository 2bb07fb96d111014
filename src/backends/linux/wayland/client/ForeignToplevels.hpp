#pragma once

#include "backends/linux/wayland/CompositorLink.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::linuxbackend {

// One output as the toplevels name it (by a key of the link's: its object), laid out in stage
// coordinates.
struct ToplevelOutput {
    std::uint64_t key = 0;
    CompositorMonitor monitor;
};

// The windows a foreign-toplevel manager tells of, without Wayland: each toplevel's changes
// wait for its `done`. These protocols say which output a window is on, not where on it, so
// each window is given the whole of its first output, and the windows are listed front to
// back in the order they were last activated: on each output the one the gaze finds first is
// the one last focused there. Every string and count from the compositor is bounded.
class ForeignToplevels {
public:
    static constexpr std::size_t maxToplevels = 512;
    static constexpr std::size_t maxTextBytes = 512;
    static constexpr std::size_t maxOutputsPerToplevel = 16;

    // A new toplevel's id (never reused), or 0 when there are already `maxToplevels`.
    std::uint64_t add();
    void setTitle(std::uint64_t id, std::string_view title);
    void setApplicationId(std::uint64_t id, std::string_view applicationId);
    void enterOutput(std::uint64_t id, std::uint64_t output);
    void leaveOutput(std::uint64_t id, std::uint64_t output);
    void setState(std::uint64_t id, bool activated, bool minimized);
    // Applies the toplevel's pending changes; true when that changed which window is focused.
    bool done(std::uint64_t id);
    // The toplevel is gone; true when it was the focused one.
    bool close(std::uint64_t id);
    void clear();

    bool contains(std::uint64_t id) const { return toplevels_.count(id) > 0; }
    std::size_t size() const { return toplevels_.size(); }
    // Whether the toplevel has changes its `done` has not applied yet.
    bool pending(std::uint64_t id) const;
    bool activated(std::uint64_t id) const;
    // The activated toplevel (the last activated where several say so), 0 when none.
    std::uint64_t focused() const;

    // Listed toplevels front to back: the last activated first, then the never activated,
    // newest first. Windows on no known output have no monitor and an empty frame.
    std::vector<CompositorWindow> windows(const std::vector<ToplevelOutput>& outputs) const;

    // At most `maxTextBytes`, cut where a UTF-8 character begins; NULs end it.
    static std::string bounded(std::string_view text);

private:
    struct Properties {
        std::string title;
        std::string applicationId;
        std::vector<std::uint64_t> outputs; // in the order they were entered
        bool activated = false;
        bool minimized = false;
    };
    struct Toplevel {
        Properties current;
        Properties next;
        bool changed = false;             // `next` differs from what `done` last applied
        bool listed = false;              // a `done` came at least once
        std::uint64_t lastActivation = 0; // 0: never
    };

    Toplevel* find(std::uint64_t id);

    std::map<std::uint64_t, Toplevel> toplevels_;
    std::uint64_t nextId_ = 1;
    std::uint64_t activations_ = 0;
};

} // namespace orvane::linuxbackend
