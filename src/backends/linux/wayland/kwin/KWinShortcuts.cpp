#include "backends/linux/wayland/kwin/KWinShortcuts.hpp"

#include "backends/linux/BackendLog.hpp"

#include <cstdint>
#include <cstring>
#include <utility>

namespace orvane::linuxbackend {
namespace {

constexpr const char* accelPath = "/kglobalaccel";
constexpr const char* accelInterface = "org.kde.KGlobalAccel";
// kglobalaccel's flags: the shortcut is in use now, and is the one given, not the one a
// config may hold from an earlier run.
constexpr std::uint32_t accelSetPresent = 2;
constexpr std::uint32_t accelNoAutoloading = 4;
// kglobalaccel runs inside KWin: this long without an answer, it is not answering.
constexpr std::uint64_t callTimeout = 2'000'000;

} // namespace

KWinShortcuts::KWinShortcuts(BusConnection& bus, std::function<void(CompositorEvent)> post)
    : bus_(bus), post_(std::move(post)) {}

KWinShortcuts::~KWinShortcuts() {
    if (bus_.isOpen()) {
        for (const auto& [action, shortcut] : shortcuts_) {
            sd_bus_message_unref(callAccel("setInactive", action, nullptr));
        }
    }
    pressed_ = sd_bus_slot_unref(pressed_);
}

std::optional<int> KWinShortcuts::bind(const std::string& action, const std::string& text,
                                       int qtKeys) {
    shortcuts_[action] = {text, qtKeys};
    return registerShortcut(action);
}

void KWinShortcuts::unbind(const std::string& action) {
    if (!shortcuts_.contains(action)) {
        return;
    }
    sd_bus_message_unref(callAccel("setInactive", action, nullptr));
    sd_bus_message_unref(bus_.callMethod(service, accelPath, accelInterface, "unregister",
                                         callTimeout, "ss", component, action.c_str()));
    shortcuts_.erase(action);
    if (shortcuts_.empty()) {
        pressed_ = sd_bus_slot_unref(pressed_);
    }
}

std::vector<std::string> KWinShortcuts::owners(int qtKeys) {
    std::vector<std::string> owners;
    sd_bus_message* reply = bus_.callMethod(service, accelPath, accelInterface,
                                            "getGlobalShortcutsByKey", callTimeout, "i", qtKeys);
    if (!reply) {
        return owners;
    }
    // KGlobalShortcutInfo: context, its name, component, its name, action, its name, keys,
    // default keys.
    if (sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssssaiai)") > 0) {
        while (sd_bus_message_enter_container(reply, SD_BUS_TYPE_STRUCT, "ssssssaiai") > 0) {
            const char* fields[6] = {};
            if (sd_bus_message_read(reply, "ssssss", &fields[0], &fields[1], &fields[2], &fields[3],
                                    &fields[4], &fields[5]) < 0) {
                break;
            }
            if (std::strcmp(fields[2], component) != 0) {
                owners.push_back(std::string(fields[3]) + ": " + fields[5]);
            }
            sd_bus_message_skip(reply, "aiai");
            sd_bus_message_exit_container(reply);
        }
    }
    sd_bus_message_unref(reply);
    return owners;
}

// Calls kglobalaccel with the action's id and, for setShortcut, its keys.
sd_bus_message* KWinShortcuts::callAccel(const char* member, const std::string& action,
                                         const int* keys) {
    const auto found = shortcuts_.find(action);
    const std::string text = found != shortcuts_.end() ? found->second.text : action;
    sd_bus_message* call = bus_.newCall(service, accelPath, accelInterface, member);
    int r = call ? sd_bus_message_append(call, "as", 4, component, action.c_str(), "Orvane",
                                         text.c_str())
                 : -1;
    if (r >= 0 && keys) {
        r = sd_bus_message_append(call, "aiu", 1, *keys, accelSetPresent | accelNoAutoloading);
    }
    if (r < 0) {
        sd_bus_message_unref(call);
        return nullptr;
    }
    return bus_.call(call, callTimeout);
}

std::optional<int> KWinShortcuts::registerShortcut(const std::string& action) {
    const int keys = shortcuts_.at(action).keys;
    sd_bus_message* registered = callAccel("doRegister", action, nullptr);
    if (!registered) {
        return std::nullopt;
    }
    sd_bus_message_unref(registered);
    sd_bus_message* reply = callAccel("setShortcut", action, &keys);
    if (!reply) {
        return std::nullopt;
    }
    const void* given = nullptr;
    std::size_t size = 0;
    int first = 0;
    if (sd_bus_message_read_array(reply, 'i', &given, &size) >= 0 && size >= sizeof(int)) {
        std::memcpy(&first, given, sizeof first);
    }
    sd_bus_message_unref(reply);
    followPresses();
    return first;
}

// The presses come from the object kglobalaccel keeps for Orvane's component.
void KWinShortcuts::followPresses() {
    if (pressed_) {
        return;
    }
    sd_bus_message* reply = bus_.callMethod(service, accelPath, accelInterface, "getComponent",
                                            callTimeout, "s", component);
    const char* path = nullptr;
    if (reply && sd_bus_message_read(reply, "o", &path) >= 0 && path) {
        bus_.matchSignal(&pressed_, service, path, "org.kde.kglobalaccel.Component",
                         "globalShortcutPressed", [this](sd_bus_message* m) { onPressed(m); });
    }
    sd_bus_message_unref(reply);
}

void KWinShortcuts::onPressed(sd_bus_message* m) {
    const char* pressedComponent = nullptr;
    const char* action = nullptr;
    std::int64_t timestamp = 0;
    if (sd_bus_message_read(m, "ssx", &pressedComponent, &action, &timestamp) < 0 ||
        std::strcmp(pressedComponent, component) != 0 || !shortcuts_.contains(action)) {
        return;
    }
    CompositorEvent event{CompositorEvent::Kind::acceleratorActivated};
    event.id = action;
    post_(std::move(event));
}

void KWinShortcuts::arrived() {
    pressed_ = sd_bus_slot_unref(pressed_);
    for (const auto& [action, shortcut] : shortcuts_) {
        const auto given = registerShortcut(action);
        if (given && *given != shortcut.keys) {
            logInfo("KWin's shortcuts did not give Orvane its shortcut " + shortcut.text +
                    ": another program has it");
        }
    }
}

void KWinShortcuts::gone() {
    pressed_ = sd_bus_slot_unref(pressed_);
}

} // namespace orvane::linuxbackend
