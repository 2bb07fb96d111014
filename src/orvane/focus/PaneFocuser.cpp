#include "orvane/focus/PaneFocuser.hpp"

#include "orvane/focus/WindowFinder.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Prefs.hpp"

#include <algorithm>
#include <cmath>

namespace orvane {
namespace {

constexpr std::uint64_t shiftOption = ModifierFlag::shift | ModifierFlag::option;
constexpr std::uint64_t optionCommand = ModifierFlag::option | ModifierFlag::command;

} // namespace

const std::set<AccessibleRole>& PaneFocuser::focusableRoles() {
    static const std::set<AccessibleRole> roles{
        AccessibleRole::textArea,   AccessibleRole::textField, AccessibleRole::webArea,
        AccessibleRole::scrollArea, AccessibleRole::table,     AccessibleRole::outline,
        AccessibleRole::list};
    return roles;
}

const std::map<std::string, ShortcutProfile>& PaneFocuser::shortcutProfiles() {
    static const std::map<std::string, ShortcutProfile> profiles{
        {"net.kovidgoyal.kitty", {shiftOption, std::nullopt}},
        {"com.github.wez.wezterm", {shiftOption, std::nullopt}},
        {"com.mitchellh.ghostty", {optionCommand, std::nullopt}},
        {"dev.warp.Warp-Stable", {optionCommand, std::nullopt}},
        {"co.zeit.hyper", {optionCommand, std::nullopt}},
        {"com.googlecode.iterm2", {optionCommand, std::nullopt}},
    };
    return profiles;
}

std::optional<ShortcutProfile> PaneFocuser::profileFor(const std::string& identifier) {
    if (const auto& conventions = platform().desktopConventions) {
        auto own = conventions->terminalProfiles.find(identifier);
        if (own != conventions->terminalProfiles.end()) {
            return own->second;
        }
    }
    auto builtIn = shortcutProfiles().find(identifier);
    if (builtIn == shortcutProfiles().end()) {
        return std::nullopt;
    }
    return builtIn->second;
}

bool PaneFocuser::focusPane(const ScreenWindow& window, plinth::Point gazePoint) {
    if (!Prefs::shared().focusPanes()) {
        return false;
    }
    if (!WindowFinder::contains(window.frame, gazePoint)) {
        return false;
    }
    if (const auto viaMultiplexer = focusViaMultiplexer(window, gazePoint)) {
        return *viaMultiplexer;
    }
    if (focusViaAccessibility(window.pid, gazePoint)) {
        return true;
    }
    const auto application = platform().workspace->runningApplication(window.pid);
    if (!application || !application->applicationId) {
        return false;
    }
    const auto profile = profileFor(*application->applicationId);
    if (!profile) {
        return false;
    }
    return focusViaShortcut(*profile, window, gazePoint);
}

const MultiplexerPane* PaneFocuser::paneAt(const MultiplexerLayout& layout,
                                           const plinth::Rect& area, plinth::Point point) {
    if (!fills(layout, area)) {
        return nullptr;
    }
    const double column = std::floor((point.x - area.x) / (area.width / layout.columns));
    const double row = std::floor((point.y - area.y) / (area.height / layout.rows));
    for (const auto& pane : layout.panes) {
        if (column >= pane.column && column < static_cast<double>(pane.column) + pane.columns &&
            row >= pane.row && row < static_cast<double>(pane.row) + pane.rows) {
            return &pane;
        }
    }
    return nullptr;
}

bool PaneFocuser::fills(const MultiplexerLayout& layout, const plinth::Rect& area) {
    if (layout.columns <= 0 || layout.rows <= 0 || !(area.width > 0) || !(area.height > 0)) {
        return false;
    }
    const double aspect = (area.height / layout.rows) / (area.width / layout.columns);
    return aspect >= minCellAspect && aspect <= maxCellAspect;
}

std::optional<bool> PaneFocuser::focusViaMultiplexer(const ScreenWindow& window,
                                                     plinth::Point gazePoint) {
    const auto& multiplexer = platform().terminalMultiplexer;
    if (!multiplexer) {
        return std::nullopt;
    }
    const auto layout = multiplexer->layout(window.pid);
    // The cells fill the client area; the decorations hold none.
    const plinth::Rect area = window.contentFrame.value_or(window.frame);
    if (!layout || !fills(*layout, area)) {
        return std::nullopt;
    }
    const MultiplexerPane* pane = paneAt(*layout, area, gazePoint);
    if (!pane || pane->active) {
        return false; // a border, a status line, or the pane that has the focus already
    }
    return multiplexer->selectPane(window.pid, pane->id);
}

bool PaneFocuser::focusViaAccessibility(pid_t pid, plinth::Point point) {
    auto& service = *platform().accessibility;
    const auto found = service.elementAt(service.applicationElement(pid), point).value();
    if (!found || !*found) {
        return false;
    }

    AccessibleRef element = *found;
    AccessibleRef pane;
    for (int examined = 1; examined <= climbLimit; ++examined) {
        const auto role = service.role(element).value();
        if (role && focusableRoles().contains(*role)) {
            pane = element;
            break;
        }
        if (examined == climbLimit) {
            return false;
        }
        const auto parent = service.parent(element).value();
        if (!parent || !*parent) {
            return false;
        }
        element = *parent;
    }

    if (const auto frame = service.frame(pane).value()) {
        if (lastPaneFrame_ == frame) {
            return false; // the pane focused last time: nothing to do here
        }
        lastPaneFrame_ = frame;
    }
    return service.focus(pane).ok();
}

bool PaneFocuser::focusViaShortcut(const ShortcutProfile& profile, const ScreenWindow& window,
                                   plinth::Point gazePoint) {
    const plinth::Rect& frame = window.frame;
    const double dx = (gazePoint.x - (frame.x + frame.width / 2)) / frame.width;
    const double dy = (gazePoint.y - (frame.y + frame.height / 2)) / frame.height;
    if (!(std::max(std::abs(dx), std::abs(dy)) > deadZone)) {
        return false;
    }
    if (profile.prefix && !send(profile.prefix->key, profile.prefix->flags)) {
        return false; // an arrow without its prefix would go to the shell
    }
    Key arrow = Key::unknown;
    if (std::abs(dy) <= std::abs(dx)) {
        arrow = dx < 0 ? Key::leftArrow : Key::rightArrow;
    } else {
        arrow = dy < 0 ? Key::upArrow : Key::downArrow;
    }
    return send(arrow, profile.modifiers);
}

bool PaneFocuser::send(Key key, std::uint64_t flags) {
    auto& server = *platform().windowServer;
    if (!server.postKeyEvent(key, flags, true)) {
        return false;
    }
    // Released whatever happens, so the key is never left down.
    server.postKeyEvent(key, flags, false);
    return true;
}

} // namespace orvane
