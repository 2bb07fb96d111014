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

// An integral number, whether sent as an integer or as a whole float.
std::optional<std::int64_t> integerValue(const WindowEntry& entry, const char* key) {
    auto found = entry.find(key);
    if (found == entry.end()) {
        return std::nullopt;
    }
    if (const auto* integer = std::get_if<std::int64_t>(&found->second)) {
        return *integer;
    }
    if (const auto* real = std::get_if<double>(&found->second)) {
        if (std::trunc(*real) == *real && *real >= -9223372036854775808.0 &&
            *real < 9223372036854775808.0) {
            return static_cast<std::int64_t>(*real);
        }
    }
    return std::nullopt;
}

double area(const plinth::Rect& rect) {
    return (rect.maxX() - rect.minX()) * (rect.maxY() - rect.minY());
}

bool isOwnedByDock(const WindowEntry& entry) {
    auto found = entry.find(WindowKey::ownerName);
    if (found == entry.end()) {
        return false;
    }
    const auto* name = std::get_if<std::string>(&found->second);
    return name != nullptr && *name == "Dock";
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

bool isMenuOpen() {
    auto& server = *platform().windowServer;
    const auto entries = server.onScreenWindows();
    if (!entries) {
        return false;
    }
    const std::int64_t menuLevel = server.popUpMenuLevel();
    const auto dot = overlayWindowNumber();
    for (const auto& entry : *entries) {
        if (dot && integerValue(entry, WindowKey::number) == std::int64_t{*dot}) {
            continue;
        }
        if (integerValue(entry, WindowKey::layer).value_or(0) >= menuLevel) {
            return true;
        }
    }
    return false;
}

bool isMissionControlActive() {
    auto& services = platform();
    const auto entries = services.windowServer->onScreenWindows();
    if (!entries) {
        return false;
    }
    double totalArea = 0;
    for (const auto& screen : services.displays->screens()) {
        totalArea += area(screen.frame);
    }
    const double threshold = 0.4 * totalArea;
    for (const auto& entry : *entries) {
        if (!isOwnedByDock(entry)) {
            continue;
        }
        auto bounds = entry.find(WindowKey::bounds);
        if (bounds == entry.end()) {
            continue;
        }
        const auto* rect = std::get_if<plinth::Rect>(&bounds->second);
        if (rect != nullptr && area(*rect) > threshold) {
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
    if (!application || !application->bundleIdentifier) {
        return std::nullopt;
    }
    const std::string& identifier = *application->bundleIdentifier;
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
