#include "backends/linux/wayland/gnome/GnomeShellExtension.hpp"

#include "backends/linux/wayland/gnome/BridgeConnection.hpp"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace orvane::linuxbackend {
namespace {

constexpr const char* shellName = "org.gnome.Shell";
constexpr const char* shellPath = "/org/gnome/Shell";
constexpr const char* extensionsInterface = "org.gnome.Shell.Extensions";

// What GetExtensionInfo says of one extension; an empty answer means the shell does not list it.
struct ExtensionInfo {
    bool listed = false;
    double state = 0;
    std::string error;
};

std::optional<ExtensionInfo> readInfo(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
        return std::nullopt;
    }
    ExtensionInfo info;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        info.listed = true;
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0) {
            return std::nullopt;
        }
        char type = 0;
        const char* contents = nullptr;
        int r = sd_bus_message_peek_type(m, &type, &contents);
        if (r >= 0 && std::strcmp(key, "state") == 0 && contents && *contents == 'd') {
            r = sd_bus_message_read(m, "v", "d", &info.state);
        } else if (r >= 0 && std::strcmp(key, "state") == 0 && contents && *contents == 'u') {
            std::uint32_t state = 0;
            r = sd_bus_message_read(m, "v", "u", &state);
            info.state = state;
        } else if (r >= 0 && std::strcmp(key, "error") == 0 && contents && *contents == 's') {
            const char* error = nullptr;
            r = sd_bus_message_read(m, "v", "s", &error);
            info.error = error ? error : "";
        } else if (r >= 0) {
            r = sd_bus_message_skip(m, "v");
        }
        if (r < 0 || sd_bus_message_exit_container(m) < 0) {
            return std::nullopt;
        }
    }
    return info;
}

} // namespace

GnomeShellExtension::GnomeShellExtension(std::shared_ptr<BridgeConnection> bridge,
                                         EnvironmentLookup environment)
    : bridge_(std::move(bridge)), environment_(std::move(environment)) {}

const char* GnomeShellExtension::uuidFor(const std::string& shellVersion) {
    return std::atoi(shellVersion.c_str()) >= 45 ? modulesUuid : legacyUuid;
}

std::optional<std::string> GnomeShellExtension::shellVersion() const {
    sd_bus_message* reply =
        bridge_->callService(shellName, shellPath, "org.freedesktop.DBus.Properties", "Get", "ss",
                             shellName, "ShellVersion");
    const char* version = nullptr;
    std::optional<std::string> answer;
    if (reply && sd_bus_message_read(reply, "v", "s", &version) >= 0 && version) {
        answer = version;
    }
    sd_bus_message_unref(reply);
    return answer;
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
    sd_bus_message* reply = bridge_->callService(shellName, shellPath, extensionsInterface,
                                                 "GetExtensionInfo", "s", uuid);
    const auto info = reply ? readInfo(reply) : std::nullopt;
    sd_bus_message_unref(reply);
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
    sd_bus_message* reply = bridge_->callService(shellName, shellPath, extensionsInterface,
                                                 "EnableExtension", "s", uuidFor(*version));
    int enabled = 0;
    const bool ok = reply && sd_bus_message_read(reply, "b", &enabled) >= 0 && enabled;
    sd_bus_message_unref(reply);
    return ok;
}

} // namespace orvane::linuxbackend
