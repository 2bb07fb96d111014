#include "backends/linux/wayland/gnome/GnomeShellExtension.hpp"

#include "backends/linux/wayland/gnome/BridgeConnection.hpp"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace orvane::linuxbackend {
GnomeShellExtension::GnomeShellExtension(std::shared_ptr<BridgeConnection> bridge,
                                         EnvironmentLookup environment)
    : bridge_(std::move(bridge)), environment_(std::move(environment)) {}

const char* GnomeShellExtension::uuidFor(const std::string& shellVersion) {
    return std::atoi(shellVersion.c_str()) >= 45 ? modulesUuid : legacyUuid;
}

std::optional<std::string> GnomeShellExtension::shellVersion() const {
    return bridge_->shellVersion();
}

bool GnomeShellExtension::isInstalledOnDisk(const std::string& uuid) const {
    std::vector<std::filesystem::path> roots;
    const char* dataHome = environment_("XDG_DATA_HOME");
    const char* home = environment_("HOME");
    if (dataHome && *dataHome) {
        roots.emplace_back(dataHome);
    } else if (home && *home) {
        roots.push_back(std::filesystem::path(home) / ".local/share");
    }
    const char* dataDirs = environment_("XDG_DATA_DIRS");
    std::istringstream dirs(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty()) {
            roots.emplace_back(dir);
        }
    }
    for (const auto& root : roots) {
        std::error_code error;
        if (std::filesystem::exists(root / "gnome-shell/extensions" / uuid / "metadata.json",
                                    error)) {
            return true;
        }
    }
    return false;
}

DesktopBridgeState GnomeShellExtension::state() const {
    DesktopBridgeState state;
    state.sessionKind = "Wayland";
    state.bridgeName = "the Orvane extension of GNOME Shell";
    const auto snapshot = bridge_->snapshot();
    if (snapshot.present && snapshot.version) {
        state.desktop = "GNOME Shell " + snapshot.compositorVersion;
        state.bridgeVersion = snapshot.version;
        state.bridgeId = uuidFor(snapshot.compositorVersion);
        state.status = *snapshot.version == BridgeConnection::version
                           ? DesktopBridgeStatus::ready
                           : DesktopBridgeStatus::otherVersion;
        return state;
    }
    const auto version = shellVersion();
    if (const auto impostor = bridge_->impostor(); !impostor.empty()) {
        state.desktop = "GNOME Shell" + (version ? " " + *version : std::string());
        state.status = DesktopBridgeStatus::failed;
        state.detail = "Another program (" + impostor +
                       ") holds the bridge's bus name, not GNOME Shell: Orvane does not use it.";
        return state;
    }
    if (!version) {
        state.desktop = "GNOME Shell";
        state.status = DesktopBridgeStatus::unreachable;
        return state;
    }
    state.desktop = "GNOME Shell " + *version;
    const char* uuid = uuidFor(*version);
    state.bridgeId = uuid;
    const auto info = bridge_->extensionInfo(uuid);
    if (!info) {
        state.status = DesktopBridgeStatus::unreachable;
        return state;
    }
    using Status = DesktopBridgeStatus;
    if (!info->listed || info->state == 99) { // 99: uninstalled
        // Extensions are found when the shell starts: one installed since waits for a log-in.
        state.status = isInstalledOnDisk(uuid) ? Status::needsLogOut : Status::notInstalled;
        return state;
    }
    state.detail = info->error;
    switch (static_cast<int>(info->state)) {
    case 2: // disabled
    case 6: // initialized, never enabled
        state.status = Status::disabled;
        break;
    case 4: // out of date: made for other shell versions
        state.status = Status::otherVersion;
        break;
    case 1: // enabled, yet not on the bus
        state.status = Status::failed;
        if (state.detail.empty()) {
            state.detail = "The extension is enabled but does not answer.";
        }
        break;
    default: // 3 error, and whatever a newer shell adds
        state.status = Status::failed;
        break;
    }
    return state;
}

bool GnomeShellExtension::enable() {
    const auto version = shellVersion();
    if (!version) {
        return false;
    }
    return bridge_->enableExtension(uuidFor(*version));
}

} // namespace orvane::linuxbackend
