#include "orvane/support/DesktopBridgeText.hpp"

namespace orvane::DesktopBridgeText {

namespace {

std::string capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    return text;
}

} // namespace

std::string describe(const DesktopBridgeState& state) {
    const std::string& name = state.bridgeName;
    const std::string desktop = state.desktop.empty() ? "The desktop" : state.desktop;
    using Status = DesktopBridgeStatus;
    switch (state.status) {
    case Status::ready:
        return capitalised(name) + " is on" +
               (state.bridgeVersion ? " (version " + std::to_string(*state.bridgeVersion) + ")"
                                    : std::string()) +
               ".";
    case Status::notInstalled:
        return desktop + " does not know " + name +
               ": install Orvane's package, then log out and back in.";
    case Status::disabled:
        return capitalised(name) + " is switched off: turn it on to let Orvane reach your windows.";
    case Status::needsLogOut:
        return desktop + " loads the newly installed " + name +
               " at the next log-in: log out and back in.";
    case Status::otherVersion:
        return "The running " + name +
               (state.bridgeVersion ? " is version " + std::to_string(*state.bridgeVersion)
                                    : std::string(" is of another version")) +
               ", which this Orvane does not speak: log out and back in to load the installed one.";
    case Status::failed:
        return desktop + " reports an error in " + name +
               (state.detail.empty() ? std::string(".") : ": " + state.detail);
    case Status::unreachable:
        break;
    }
    return desktop + " does not answer Orvane.";
}

bool canEnable(const DesktopBridgeState& state) {
    return state.status == DesktopBridgeStatus::disabled;
}

std::string word(DesktopBridgeStatus status) {
    using Status = DesktopBridgeStatus;
    switch (status) {
    case Status::ready:
        return "ready";
    case Status::notInstalled:
        return "NOT INSTALLED";
    case Status::disabled:
        return "DISABLED";
    case Status::needsLogOut:
        return "NEEDS LOG-OUT";
    case Status::otherVersion:
        return "OTHER VERSION";
    case Status::failed:
        return "FAILED";
    case Status::unreachable:
        break;
    }
    return "UNREACHABLE";
}

} // namespace orvane::DesktopBridgeText
