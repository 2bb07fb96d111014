#include "backends/linux/freedesktop/XdgLoginItems.hpp"

#include "backends/linux/LinuxProcessInfo.hpp"
#include "orvane/platform/Platform.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

namespace orvane::linuxbackend {
namespace {

// An entry is a few hundred bytes; anything far larger is not one of ours to parse.
constexpr std::size_t maxEntryBytes = 64 * 1024;

// Characters that oblige an Exec argument to be quoted.
constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::string lastError() {
    return errno != 0 ? std::strerror(errno) : "unknown error";
}

} // namespace

XdgLoginItems::XdgLoginItems(std::optional<std::filesystem::path> entry, std::string executable)
    : entry_(std::move(entry)), executable_(std::move(executable)) {}

bool XdgLoginItems::startsAtLogin() const {
    if (!entry_) {
        return false;
    }
    const auto read = files_.read(*entry_, maxEntryBytes);
    return read.outcome == FileRead::Outcome::read && isShownEntry(read.content);
}

LoginItemChange XdgLoginItems::setStartsAtLogin(bool on) {
    if (!entry_) {
        return {false, "there is no configuration directory (neither XDG_CONFIG_HOME nor HOME "
                       "is set)"};
    }
    const auto& file = *entry_;
    if (!on) {
        errno = 0;
        if (!files_.remove(file)) {
            if (errno == ENOENT || errno == ENOTDIR) {
                return {true, {}};
            }
            return {false, "could not remove " + file.string() + ": " + lastError()};
        }
        return {true, {}};
    }
    if (executable_.empty() || executable_.front() != '/') {
        return {false, "the path of the running program is unknown"};
    }
    const auto directory = file.parent_path();
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        return {false, "could not create " + directory.string() + ": " + error.message()};
    }
    // The atomic write leaves errno as the failing call set it.
    errno = 0;
    if (!files_.writeAtomically(file, entryText(executable_))) {
        return {false, "could not write " + file.string() + ": " + lastError()};
    }
    return {true, {}};
}

std::string XdgLoginItems::entryText(const std::string& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Orvane\n"
           "Comment=Moves keyboard focus to the display you are looking at\n"
           "Exec=" +
           execValue(executable) +
           "\n"
           "Icon=net.orvane.Orvane\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string XdgLoginItems::execValue(const std::string& program) {
    // First the quoting rules of Exec, then the escapes of every string value on top.
    std::string argument;
    const bool quote = program.find_first_of(reserved) != std::string::npos;
    for (const char c : program) {
        if (c == '%') {
            argument += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            argument += '\\';
        }
        argument += c;
    }
    if (quote) {
        argument = '"' + argument + '"';
    }
    std::string value;
    for (const char c : argument) {
        switch (c) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += c;
        }
    }
    return value;
}

bool XdgLoginItems::isShownEntry(std::string_view text) {
    std::istringstream lines{std::string(text)};
    std::string line;
    bool inMainGroup = false;
    bool sawMainGroup = false;
    while (std::getline(lines, line)) {
        const auto content = trimmed(line);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        if (content.front() == '[') {
            inMainGroup = content == "[Desktop Entry]";
            sawMainGroup = sawMainGroup || inMainGroup;
            continue;
        }
        const auto equals = content.find('=');
        if (!inMainGroup || equals == std::string::npos) {
            continue;
        }
        const auto key = trimmed(std::string_view(content).substr(0, equals));
        const auto value = trimmed(std::string_view(content).substr(equals + 1));
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            return false;
        }
    }
    return sawMainGroup;
}

std::optional<std::filesystem::path>
autostartEntry(const std::function<const char*(const char*)>& environment) {
    std::filesystem::path config;
    if (const char* xdg = environment("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        config = xdg;
    } else if (const char* home = environment("HOME"); home && home[0] != '\0') {
        config = std::filesystem::path(home) / ".config";
    } else {
        return std::nullopt;
    }
    return config / "autostart" / (std::string(kApplicationIdentifier) + ".desktop");
}

std::shared_ptr<LoginItems> makeLinuxLoginItems() {
    return std::make_shared<XdgLoginItems>(
        autostartEntry([](const char* name) { return std::getenv(name); }),
        LinuxProcessInfo().ownExecutablePath());
}

} // namespace orvane::linuxbackend
