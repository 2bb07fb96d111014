#pragma once

#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// Orvane's global shortcuts in KWin's kglobalaccel, on the link's worker: registered under
// Orvane's component, registered again whenever kglobalaccel comes back (it remembers nothing
// of ours), and their presses told as acceleratorActivated events naming the action.
class KWinShortcuts {
public:
    // The component Orvane's shortcuts are listed under in KDE's settings.
    static constexpr const char* component = "net.orvane.Orvane";
    static constexpr const char* service = "org.kde.kglobalaccel";

    KWinShortcuts(BusConnection& bus, std::function<void(CompositorEvent)> post);
    // Leaves them inactive, as KDE's programs leave theirs: listed in the settings, not
    // grabbed.
    ~KWinShortcuts();
    KWinShortcuts(const KWinShortcuts&) = delete;
    KWinShortcuts& operator=(const KWinShortcuts&) = delete;

    // The keys kglobalaccel gave the action (0: another program has them); nullopt when it did
    // not answer, and then they are asked for once it is there.
    std::optional<int> bind(const std::string& action, const std::string& text, int qtKeys);
    void unbind(const std::string& action);
    // The programs other than Orvane whose shortcuts have `qtKeys`, as "Program: action".
    std::vector<std::string> owners(int qtKeys);

    // kglobalaccel came (back) on the bus, or left it.
    void arrived();
    void gone();

private:
    struct Shortcut {
        std::string text;
        int keys = 0;
    };

    sd_bus_message* callAccel(const char* member, const std::string& action, const int* keys);
    std::optional<int> registerShortcut(const std::string& action);
    void followPresses();
    void onPressed(sd_bus_message* m);

    BusConnection& bus_;
    std::function<void(CompositorEvent)> post_;
    std::map<std::string, Shortcut> shortcuts_;
    sd_bus_slot* pressed_ = nullptr;
};

} // namespace orvane::linuxbackend
