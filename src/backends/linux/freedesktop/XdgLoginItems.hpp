#pragma once

#include "backends/posix/PosixFileSystem.hpp"
#include "orvane/platform/LoginItems.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::linuxbackend {

// Starting at login the freedesktop way: a desktop entry in the user's autostart directory,
// which every XDG session reads when it starts. Our entry counts as off when it is missing,
// unreadable, or hidden (Hidden=true, or GNOME's X-GNOME-Autostart-enabled=false).
class XdgLoginItems : public LoginItems {
public:
    // `entry`: the file to write, nullopt when the user has no configuration directory;
    // `executable`: the absolute path the session is to start.
    XdgLoginItems(std::optional<std::filesystem::path> entry, std::string executable);

    bool startsAtLogin() const override;
    LoginItemChange setStartsAtLogin(bool on) override;

    // The autostart entry that starts `executable`.
    static std::string entryText(const std::string& executable);
    // One program path as an Exec= value: quoted when the desktop-entry rules ask for it,
    // with its backslashes and percent signs escaped.
    static std::string execValue(const std::string& program);
    // The entry's text asks the session to start it.
    static bool isShownEntry(std::string_view text);

private:
    std::optional<std::filesystem::path> entry_;
    std::string executable_;
    posix::PosixFileSystem files_{std::nullopt};
};

// $XDG_CONFIG_HOME/autostart/net.orvane.Orvane.desktop ($XDG_CONFIG_HOME when absolute, else
// $HOME/.config); nullopt when neither gives a directory.
std::optional<std::filesystem::path>
autostartEntry(const std::function<const char*(const char*)>& environment);

// Over this process's environment and executable.
std::shared_ptr<LoginItems> makeLinuxLoginItems();

} // namespace orvane::linuxbackend
