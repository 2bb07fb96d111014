#pragma once

#include "orvane/platform/WindowServer.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane::sim {

// One well-formed window, the usual way to describe the simulated window list.
struct SimWindow {
    pid_t pid = 0;
    std::uint32_t number = 0; // 0: let the server number it
    plinth::Rect frame;       // global top-left space
    std::int64_t layer = 0;
    std::string ownerName;
    std::string title;
};

// A synthetic key event as posted through `postKeyEvent`.
struct PostedKeyEvent {
    Key key = Key::unknown;
    std::uint64_t flags = 0;
    bool keyDown = false;

    friend bool operator==(const PostedKeyEvent&, const PostedKeyEvent&) = default;
};

// The simulated window server. Its list is kept as raw entries, front to back, so a test can
// put in anything a real server might answer (missing keys, values of the wrong type) next to
// ordinary windows. The pointer is kept in the global top-left space.
class SimWindowServer : public WindowServer {
public:
    // Typical level of pop-up menus; the exact number only has to be above normal windows.
    static constexpr std::int64_t defaultPopUpMenuLevel = 101;

    std::optional<std::vector<WindowRecord>> onScreenWindows() const override;
    std::int64_t popUpMenuLevel() const override;
    bool isMenuOpenInsideWindow() const override;
    plinth::Point pointerLocation() const override;
    void warpPointer(plinth::Point point) override;
    bool postKeyEvent(Key key, std::uint64_t flags, bool keyDown) override;

    // --- The window list -------------------------------------------------------------------

    // Opens `window` in front of every other one; returns its number.
    std::uint32_t addWindow(SimWindow window);
    // Puts a raw entry at `position` of the front-to-back list (clamped to its end).
    void insertEntry(std::size_t position, WindowRecord entry);
    // Replaces the whole list, front to back.
    void setEntries(std::vector<WindowRecord> entries);
    std::vector<WindowRecord> entries() const;
    // Brings the window to the front; false when it is not listed.
    bool raiseWindow(std::uint32_t number);
    bool moveWindow(std::uint32_t number, plinth::Rect frame);
    // Lists the window's content area without its decorations; false when it is not listed.
    bool setContentFrame(std::uint32_t number, plinth::Rect frame);
    bool closeWindow(std::uint32_t number);
    // The raw entry for one window number, if listed.
    std::optional<WindowRecord> entry(std::uint32_t number) const;

    static WindowRecord entryFor(const SimWindow& window);

    // While set, the list cannot be obtained at all.
    void setListFails(bool fails);
    void setPopUpMenuLevel(std::int64_t level);
    // A menu drawn inside its window opens or closes (no entry of the list changes).
    void setMenuOpenInsideWindow(bool open);

    // --- Pointer and keys ------------------------------------------------------------------

    // The user moved the pointer (global top-left space). Not recorded as a warp.
    void setPointer(plinth::Point global);
    plinth::Point pointer() const;
    // Every `warpPointer` target, in order.
    std::vector<plinth::Point> warps() const;

    std::vector<PostedKeyEvent> postedKeyEvents() const;
    // While set, `postKeyEvent` posts nothing and answers false.
    void setKeyPostingFails(bool fails);

private:
    std::optional<std::size_t> indexOf(std::uint32_t number) const; // caller holds mutex_

    mutable std::mutex mutex_;
    std::vector<WindowRecord> entries_;
    std::uint32_t nextNumber_ = 100;
    bool listFails_ = false;
    std::int64_t popUpMenuLevel_ = defaultPopUpMenuLevel;
    bool menuInsideWindow_ = false;
    plinth::Point pointer_;
    std::vector<plinth::Point> warps_;
    std::vector<PostedKeyEvent> keyEvents_;
    bool keyPostingFails_ = false;
};

} // namespace orvane::sim
