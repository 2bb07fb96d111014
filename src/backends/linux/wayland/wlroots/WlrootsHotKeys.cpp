#include "backends/linux/wayland/wlroots/WlrootsHotKeys.hpp"

#include <fstream>
#include <sstream>
#include <strings.h>

namespace orvane::linuxbackend {
namespace {

bool listsDesktop(const char* desktops, const char* wanted) {
    std::istringstream list(desktops ? desktops : "");
    std::string name;
    while (std::getline(list, name, ':')) {
        if (::strcasecmp(name.c_str(), wanted) == 0) {
            return true;
        }
    }
    return false;
}

std::string configHome(const EnvironmentLookup& environment) {
    const char* config = environment("XDG_CONFIG_HOME");
    if (config && *config == '/') {
        return config;
    }
    const char* home = environment("HOME");
    return home && *home ? std::string(home) + "/.config" : std::string();
}

// Drops XML comments, or the ini's comment lines, so that a binding written out of use does
// not count.
std::string withoutComments(const std::string& text, bool ini) {
    std::string kept;
    if (ini) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            const auto first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] == '#' || line[first] == ';') {
                continue;
            }
            kept += line + "\n";
        }
        return kept;
    }
    std::size_t at = 0;
    while (at < text.size()) {
        const auto open = text.find("<!--", at);
        kept += text.substr(at, open == std::string::npos ? std::string::npos : open - at);
        if (open == std::string::npos) {
            break;
        }
        const auto close = text.find("-->", open + 4);
        at = close == std::string::npos ? text.size() : close + 3;
    }
    return kept;
}

} // namespace

WlrootsHotKeys::WlrootsHotKeys(EnvironmentLookup environment)
    : environment_(std::move(environment)) {}

bool WlrootsHotKeys::bindsToggle(const std::string& config, bool iniComments) {
    return withoutComments(config, iniComments).find("--toggle-pause") != std::string::npos;
}

std::string WlrootsHotKeys::configFile() const {
    const char* desktops = environment_("XDG_CURRENT_DESKTOP");
    const std::string home = configHome(environment_);
    if (listsDesktop(desktops, "labwc")) {
        return home.empty() ? std::string() : home + "/labwc/rc.xml";
    }
    if (listsDesktop(desktops, "wayfire")) {
        if (const char* file = environment_("WAYFIRE_CONFIG_FILE"); file && *file == '/') {
            return file;
        }
        return home.empty() ? std::string() : home + "/wayfire.ini";
    }
    return {};
}

std::optional<bool> WlrootsHotKeys::bound() const {
    const std::string file = configFile();
    if (file.empty()) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string text(maxConfigBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    const bool ini = file.size() >= 4 && file.compare(file.size() - 4, 4, ".ini") == 0;
    return bindsToggle(text, ini);
}

std::optional<HotKeyToken> WlrootsHotKeys::registerHotKey(Key, std::uint64_t,
                                                          std::function<void()> handler) {
    if (bound() == false) {
        return std::nullopt;
    }
    const HotKeyToken token = nextToken_++;
    handlers_.emplace(token, std::move(handler));
    return token;
}

void WlrootsHotKeys::unregisterHotKey(HotKeyToken token) {
    handlers_.erase(token);
}

std::string WlrootsHotKeys::describe(Key, std::uint64_t) const {
    const std::string file = configFile();
    const auto isBound = bound();
    if (!isBound) {
        return std::string("a key binding of yours that runs \"") + toggleCommand +
               "\" (not checked on this compositor)";
    }
    if (*isBound) {
        return std::string("your key binding in ") + file + " (runs \"" + toggleCommand + "\")";
    }
    return std::string("NOT BOUND: add a key binding that runs \"") + toggleCommand + "\" to " +
           file + " (see the README)";
}

} // namespace orvane::linuxbackend
