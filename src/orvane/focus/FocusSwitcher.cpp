#include "orvane/focus/FocusSwitcher.hpp"

#include "orvane/focus/FocusRefusals.hpp"
#include "orvane/focus/WindowFinder.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/Numeric.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvane {
namespace {

// One reading of the display list serves a whole question, so the answer is consistent even
// while the arrangement changes.
std::vector<plinth::Rect> framesOf(const std::vector<Display>& screens) {
    std::vector<plinth::Rect> frames;
    for (const auto& screen : screens) {
        frames.push_back(screen.frame);
    }
    return frames;
}

double overlapArea(const plinth::Rect& a, const plinth::Rect& b) {
    const double width = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double height = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return width > 0 && height > 0 ? width * height : 0.0;
}

// The frame's display: the one sharing the most area with it, ties to the earlier; none when
// it lies on no display at all.
std::optional<std::size_t> holdingMost(const plinth::Rect& frame,
                                       const std::vector<plinth::Rect>& frames) {
    std::optional<std::size_t> best;
    double bestArea = 0.0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const double area = overlapArea(frames[i], frame);
        if (area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    return best;
}

bool isListed(std::uint32_t windowID) {
    const auto windows = WindowFinder::windowsFrontToBack();
    return std::any_of(windows.begin(), windows.end(),
                       [&](const ScreenWindow& window) { return window.windowID == windowID; });
}

// The first wait after a refusal, and the longest: a manager's rule rarely changes by itself,
// yet the window may become focusable (its prompt answered, a rule reloaded).
constexpr double firstRefusalWait = 1.0;
constexpr double longestRefusalWait = 30.0;

plinth::Point centre(const plinth::Rect& rect) {
    return {rect.x + rect.width / 2, rect.y + rect.height / 2};
}

} // namespace

std::optional<ScreenWindow> FocusSwitcher::focus(const Display& screen, plinth::Point gazePoint) {
    const std::string screenKey = key(screen);
    const auto screens = platform().displays->screens();
    auto frames = framesOf(screens);
    auto here = std::find_if(screens.begin(), screens.end(),
                             [&](const Display& listed) { return key(listed) == screenKey; });
    const auto index = static_cast<std::size_t>(here - screens.begin());
    if (here == screens.end()) {
        frames.push_back(screen.frame); // left the list since it was chosen
    }
    // Away from the gaze only a window mostly on this display is this display's: one that
    // reaches over its edge by a few pixels belongs to its neighbour.
    const auto belongsHere = [&](const ScreenWindow& window) {
        return holdingMost(window.frame, frames) == index;
    };

    auto target = WindowFinder::windowAt(gazePoint);
    if (!target) {
        target = rememberedWindow(screenKey, belongsHere);
    }
    if (!target) {
        for (auto& window : WindowFinder::windowsFrontToBack()) {
            if (belongsHere(window)) {
                target = std::move(window);
                break;
            }
        }
    }
    if (!target) {
        return std::nullopt;
    }

    auto& services = platform();
    if (refusal_ && refusal_->windowID == target->windowID &&
        services.clock->monotonic() < refusal_->askAgainAt) {
        return std::nullopt;
    }
    if (!services.workspace->runningApplication(target->pid)) {
        return std::nullopt;
    }
    // Windows close at any moment; one that went away since it was listed is not focused, and
    // its application is not activated on its behalf (that would raise its other windows).
    if (const auto element = WindowFinder::accessibleWindow(*target)) {
        auto& accessibility = *services.accessibility;
        if (accessibility.raise(*element).error() == AccessError::invalidElement) {
            return std::nullopt;
        }
        accessibility.makeMain(*element);
        accessibility.focus(*element);
    } else if (!isListed(target->windowID)) {
        return std::nullopt;
    }
    // The exact window: activating the application would bring whichever of its windows is on
    // top, and only the platform's word that this one has focus counts as done.
    if (!services.workspace->activateWindow(target->pid, target->windowID)) {
        // Still there, yet not focused: the window manager said no. Said once, not on every
        // pose that asks again.
        if (isListed(target->windowID)) {
            if (!refusal_ || refusal_->windowID != target->windowID) {
                refusal_ = Refusal{target->windowID, 0, 0};
                FocusRefusals::report(target->ownerName.empty() ? target->title
                                                                : target->ownerName);
            }
            refusal_->wait = refusal_->wait == 0 ? firstRefusalWait
                                                 : std::min(refusal_->wait * 2, longestRefusalWait);
            refusal_->askAgainAt = services.clock->monotonic() + refusal_->wait;
        }
        return std::nullopt;
    }
    refusal_.reset();

    lastWindowPerScreen_[screenKey] = target->windowID;
    currentScreenKey_ = screenKey;

    if (Prefs::shared().moveCursor()) {
        const plinth::Point pointer =
            WindowFinder::contains(target->frame, gazePoint) ? gazePoint : centre(target->frame);
        services.windowServer->warpPointer(pointer);
    }
    return target;
}

std::optional<ScreenWindow>
FocusSwitcher::rememberedWindow(const std::string& screenKey,
                                const std::function<bool(const ScreenWindow&)>& isHere) const {
    auto remembered = lastWindowPerScreen_.find(screenKey);
    if (remembered == lastWindowPerScreen_.end()) {
        return std::nullopt;
    }
    for (auto& window : WindowFinder::windowsFrontToBack()) {
        if (window.windowID == remembered->second) {
            return isHere(window) ? std::optional(std::move(window)) : std::nullopt;
        }
    }
    return std::nullopt;
}

void FocusSwitcher::noteManualFocus(const ScreenWindow& window) {
    const auto screen = screenContaining(window.frame);
    if (!screen) {
        return;
    }
    const std::string screenKey = key(*screen);
    lastWindowPerScreen_[screenKey] = window.windowID;
    currentScreenKey_ = screenKey;
    if (refusal_) {
        refusal_->wait = 0;
        refusal_->askAgainAt = 0;
    }
}

std::string FocusSwitcher::key(const Display& screen) {
    return std::to_string(plinth::truncatedToInt64(screen.frame.x)) + "," +
           std::to_string(plinth::truncatedToInt64(screen.frame.y));
}

std::optional<Display> FocusSwitcher::screenContaining(const plinth::Rect& rect) {
    const auto screens = platform().displays->screens();
    if (screens.empty()) {
        return std::nullopt;
    }
    return screens[holdingMost(rect, framesOf(screens)).value_or(0)];
}

std::optional<Display> FocusSwitcher::screenAt(plinth::Point point) {
    const auto screens = platform().displays->screens();
    const auto index = plinth::ScreenGeometry::frameContaining(point, framesOf(screens));
    if (!index) {
        return std::nullopt;
    }
    return screens[*index];
}

std::optional<Display> FocusSwitcher::nearestScreen(plinth::Point point) {
    const auto screens = platform().displays->screens();
    const auto index = plinth::ScreenGeometry::nearestFrame(point, framesOf(screens));
    if (!index) {
        return std::nullopt;
    }
    return screens[*index];
}

} // namespace orvane
