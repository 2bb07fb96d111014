#include "orvane/guards/SystemGuards.hpp"

#include "orvane/platform/Platform.hpp"

#include <cmath>
#include <mutex>

namespace orvane::SystemGuards {
namespace {

struct OverlayRegistration {
    std::mutex mutex;
    std::uint64_t generation = 0;
    std::optional<std::uint32_t> number;
};

OverlayRegistration& overlay() {
    static OverlayRegistration registration;
    return registration;
}

double area(const plinth::Rect& rect) {
    return (rect.maxX() - rect.minX()) * (rect.maxY() - rect.minY());
}

bool isOwnedByDock(const WindowRecord& record) {
    return record.ownerName == "Dock";
}

} // namespace

void setOverlayWindowNumber(std::optional<std::uint32_t> number) {
    auto& registration = overlay();
    std::lock_guard lock(registration.mutex);
    registration.generation = platformGeneration();
    registration.number = number;
}

std::optional<std::uint32_t> overlayWindowNumber() {
    auto& registration = overlay();
    std::lock_guard lock(registration.mutex);
    if (registration.generation != platformGeneration()) {
        return std::nullopt;
    }
    return registration.number;
}

WindowSnapshot snapshot() {
    auto& server = *platform().windowServer;
    return {server.onScreenWindows(), server.popUpMenuLevel(), server.isMenuOpenInsideWindow()};
}

bool isMenuOpen() {
    return isMenuOpen(snapshot());
}

bool isMenuOpen(const WindowSnapshot& windows) {
    if (windows.menuInsideWindow) {
        return true;
    }
    if (!windows.entries) {
        return false;
    }
    const auto dot = overlayWindowNumber();
    for (const auto& entry : *windows.entries) {
        if (dot && entry.number == std::int64_t{*dot}) {
            continue;
        }
        if (entry.layer.value_or(0) >= windows.popUpMenuLevel) {
            return true;
        }
    }
    return false;
}

bool isMissionControlActive() {
    return isMissionControlActive(snapshot());
}

bool isMissionControlActive(const WindowSnapshot& windows) {
    const auto& workspace = platform().workspace;
    if (workspace && workspace->isOverviewShowing()) {
        return true;
    }
    if (!windows.entries) {
        return false;
    }
    double totalArea = 0;
    for (const auto& screen : platform().displays->screens()) {
        totalArea += area(screen.frame);
    }
    const double threshold = 0.4 * totalArea;
    for (const auto& entry : *windows.entries) {
        if (!isOwnedByDock(entry)) {
            continue;
        }
        const auto& bounds = entry.bounds;
        if (bounds && bounds->isFinite() && area(*bounds) > threshold) {
            return true;
        }
    }
    return false;
}

const std::set<std::string>& launcherBundleIDs() {
    static const std::set<std::string> identifiers{
        "com.apple.Spotlight", "com.raycast.macos",     "com.runningwithcrayons.Alfred",
        "at.obdev.LaunchBar",  "com.apple.finder.Open", "com.googlecode.iterm2.quickopen",
    };
    return identifiers;
}

std::optional<std::string> activeLauncher() {
    auto& services = platform();
    const auto application = services.workspace->frontmostApplication();
    if (!application || !application->applicationId) {
        return std::nullopt;
    }
    const std::string& identifier = *application->applicationId;
    const bool builtIn = launcherBundleIDs().contains(identifier);
    const bool platformOwn = services.desktopConventions &&
                             services.desktopConventions->launcherIdentifiers.contains(identifier);
    if (!builtIn && !platformOwn) {
        return std::nullopt;
    }
    if (!application->localizedName || application->localizedName->empty()) {
        return "launcher";
    }
    return *application->localizedName;
}

} // namespace orvane::SystemGuards
