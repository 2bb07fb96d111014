#pragma once

#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/dbus/BusTimer.hpp"
#include "backends/linux/wayland/kwin/KWinLinkState.hpp"
#include "backends/linux/wayland/kwin/KWinScriptFile.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvane::linuxbackend {

// Keeps Orvane's script running in KWin, on the link's worker: writes this run's copy (which
// calls back only this connection, with a key made for this run), loads it over
// org.kde.kwin.Scripting into each KWin that comes on the bus (retrying while a KWin just
// started has no scripting yet), and unloads it when it ends.
class KWinScriptHost {
public:
    struct Hooks {
        std::function<void()> attaching; // a KWin is about to get the script
        std::function<void()> loaded;    // the script runs in it
        std::function<void()> detaching; // that KWin went, or its script is dropped
    };

    KWinScriptHost(BusConnection& bus, BusLoop& loop, KWinLinkState& state, Hooks hooks);
    // Unloads the script.
    ~KWinScriptHost();
    KWinScriptHost(const KWinScriptHost&) = delete;
    KWinScriptHost& operator=(const KWinScriptHost&) = delete;

    // Writes the script for the connection named `unique`; why not, when it cannot.
    std::optional<std::string> prepare(const std::string& unique);
    // Loads the script into the KWin whose connection is `kwinOwner`.
    void attach(const std::string& kwinOwner);
    void detach();
    void unload();

    // The KWin the script was loaded into, and this run's key, which its every call carries.
    const std::string& kwinOwner() const { return kwinOwner_; }
    const std::string& key() const { return key_; }
    bool isLoaded() const { return loaded_; }

private:
    sd_bus_message* callKWin(const char* path, const char* interface, const char* member,
                             const char* types = nullptr, const char* argument = nullptr);
    void retryLoad();

    BusConnection& bus_;
    KWinLinkState& state_;
    Hooks hooks_;
    BusTimer retry_;
    int loadAttempts_ = 0;
    std::unique_ptr<KWinScriptFile> file_;
    std::string pluginName_;
    std::string key_;
    std::string kwinOwner_; // the unique name of the KWin we load the script into
    bool loaded_ = false;
};

} // namespace orvane::linuxbackend
