#include "backends/linux/freedesktop/DesktopEntries.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace orvane::linuxbackend {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::filesystem::path> applicationDirectories() {
    std::vector<std::filesystem::path> directories;
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome && *dataHome) {
        directories.emplace_back(dataHome);
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        directories.emplace_back(std::filesystem::path(home) / ".local/share");
    }
    std::string dataDirs = "/usr/local/share:/usr/share";
    if (const char* dirs = std::getenv("XDG_DATA_DIRS"); dirs && *dirs) {
        dataDirs = dirs;
    }
    std::stringstream stream(dataDirs);
    std::string entry;
    while (std::getline(stream, entry, ':')) {
        if (!entry.empty()) {
            directories.emplace_back(entry);
        }
    }
    for (auto& directory : directories) {
        directory /= "applications";
    }
    return directories;
}

} // namespace

std::optional<DesktopEntry> DesktopEntries::parse(const std::string& id, const std::string& text) {
    DesktopEntry entry;
    entry.id = id;
    bool inMainGroup = false;
    bool application = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        while (!key.empty() && key.back() == ' ') {
            key.pop_back();
        }
        while (!value.empty() && value.front() == ' ') {
            value.erase(value.begin());
        }
        if (key == "Type") {
            application = value == "Application";
        } else if (key == "Name") {
            entry.name = value;
        } else if (key == "StartupWMClass") {
            entry.startupWMClass = value;
        } else if (key == "Exec") {
            std::string program = value.substr(0, value.find(' '));
            if (program == "env") {
                // "env VAR=x program ...": the first word without '='.
                std::istringstream words(value);
                std::string word;
                words >> word;
                while (words >> word && word.find('=') != std::string::npos) {
                }
                program = word;
            }
            entry.executable = std::filesystem::path(program).filename().string();
        } else if (key == "Hidden" && value == "true") {
            return std::nullopt;
        }
    }
    if (!application || entry.name.empty()) {
        return std::nullopt;
    }
    return entry;
}

void DesktopEntries::load() const {
    std::set<std::string> seen;
    for (const auto& directory : applicationDirectories()) {
        std::error_code error;
        std::filesystem::recursive_directory_iterator it(
            directory, std::filesystem::directory_options::skip_permission_denied, error);
        if (error) {
            continue;
        }
        for (const auto& file : it) {
            if (file.path().extension() != ".desktop") {
                continue;
            }
            // The id of applications/kde/foo.desktop is kde-foo.
            std::string id = std::filesystem::relative(file.path(), directory, error).string();
            if (error) {
                continue;
            }
            id.resize(id.size() - std::string(".desktop").size());
            std::replace(id.begin(), id.end(), '/', '-');
            // Earlier directories take precedence.
            if (!seen.insert(id).second) {
                continue;
            }
            std::ifstream stream(file.path());
            std::stringstream text;
            text << stream.rdbuf();
            if (auto entry = parse(id, text.str())) {
                entries_.push_back(std::move(*entry));
            }
        }
    }
}

std::optional<DesktopEntry> DesktopEntries::match(const std::string& applicationId,
                                                  const std::string& instanceName,
                                                  const std::string& className) const {
    std::call_once(loaded_, [this] { load(); });
    // Asked for every window whenever the windows are listed: the answers are kept, since
    // the entries never change once read.
    std::string key = applicationId;
    key.append(1, '\0').append(instanceName).append(1, '\0').append(className);
    {
        std::lock_guard lock(matchesMutex_);
        if (const auto known = matches_.find(key); known != matches_.end()) {
            return known->second;
        }
    }
    auto found = search(applicationId, instanceName, className);
    std::lock_guard lock(matchesMutex_);
    // Windows name themselves as they like: the memory is bounded.
    if (matches_.size() >= matchesKept) {
        matches_.clear();
    }
    matches_.emplace(std::move(key), found);
    return found;
}

std::optional<DesktopEntry> DesktopEntries::search(const std::string& applicationId,
                                                   const std::string& instanceName,
                                                   const std::string& className) const {
    if (!applicationId.empty()) {
        for (const auto& entry : entries_) {
            if (entry.id == applicationId) {
                return entry;
            }
        }
    }
    const std::string names[] = {className, instanceName};
    for (const bool exact : {true, false}) {
        auto same = [exact](const std::string& a, const std::string& b) {
            return !a.empty() && (exact ? a == b : lower(a) == lower(b));
        };
        for (const auto& name : names) {
            for (const auto& entry : entries_) {
                if (same(entry.startupWMClass, name)) {
                    return entry;
                }
            }
        }
        for (const auto& name : names) {
            for (const auto& entry : entries_) {
                const auto dot = entry.id.rfind('.');
                const std::string tail =
                    dot == std::string::npos ? entry.id : entry.id.substr(dot + 1);
                if (same(entry.id, name) || (dot != std::string::npos && same(tail, name))) {
                    return entry;
                }
            }
        }
        for (const auto& name : names) {
            for (const auto& entry : entries_) {
                if (entry.startupWMClass.empty() && same(entry.executable, name)) {
                    return entry;
                }
            }
        }
    }
    return std::nullopt;
}

std::string DesktopEntries::applicationName(const std::string& applicationId,
                                            const std::string& instanceName,
                                            const std::string& className) const {
    if (auto entry = match(applicationId, instanceName, className)) {
        return entry->name;
    }
    return !className.empty() ? className : instanceName;
}

std::optional<std::string>
DesktopEntries::applicationIdentifier(const std::string& applicationId,
                                      const std::string& instanceName,
                                      const std::string& className) const {
    if (auto entry = match(applicationId, instanceName, className)) {
        return entry->id;
    }
    for (const auto* candidate : {&applicationId, &className, &instanceName}) {
        if (!candidate->empty()) {
            return *candidate;
        }
    }
    return std::nullopt;
}

} // namespace orvane::linuxbackend
