#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace orvane::linuxbackend {

// What the system's application launchers know of an installed application.
struct DesktopEntry {
    std::string id;   // "org.gnome.Terminal" for org.gnome.Terminal.desktop
    std::string name; // Name=
    std::string startupWMClass;
    std::string executable; // base name of Exec='s program
};

// The desktop entries installed under $XDG_DATA_HOME and $XDG_DATA_DIRS, read once on first use
// (an application installed later is named by its window class until the next start).
// Thread-safe.
class DesktopEntries {
public:
    // The entry for a window: by its GTK application id, else by WM_CLASS (StartupWMClass, the
    // entry id, the executable), exact matches before case-insensitive ones.
    std::optional<DesktopEntry> match(const std::string& applicationId,
                                      const std::string& instanceName,
                                      const std::string& className) const;

    // The name people know the application by: the entry's Name, else the window class.
    std::string applicationName(const std::string& applicationId, const std::string& instanceName,
                                const std::string& className) const;

    // A stable identifier: the desktop-entry id, else the GTK application id, else the window
    // class (else its instance part); nullopt when the window says nothing at all.
    std::optional<std::string> applicationIdentifier(const std::string& applicationId,
                                                     const std::string& instanceName,
                                                     const std::string& className) const;

    // Parses one .desktop file's text; nullopt for hidden entries and non-applications.
    static std::optional<DesktopEntry> parse(const std::string& id, const std::string& text);

    // Answers of `match` kept at most; beyond, they are forgotten and found again.
    static constexpr std::size_t matchesKept = 256;

private:
    void load() const;
    std::optional<DesktopEntry> search(const std::string& applicationId,
                                       const std::string& instanceName,
                                       const std::string& className) const;

    mutable std::once_flag loaded_;
    mutable std::vector<DesktopEntry> entries_;
    mutable std::mutex matchesMutex_;
    mutable std::unordered_map<std::string, std::optional<DesktopEntry>> matches_;
};

} // namespace orvane::linuxbackend
