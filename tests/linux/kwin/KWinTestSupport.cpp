#include "kwin/KWinTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace orvane::linuxbackend::test {

const char* env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

sd_bus* sessionBus() {
    sd_bus* bus = nullptr;
    return sd_bus_open_user(&bus) >= 0 ? bus : nullptr;
}

void runInKWin(sd_bus* bus, const std::string& script) {
    static int count = 0;
    const std::string path =
        std::string(env("XDG_RUNTIME_DIR")) + "/place-" + std::to_string(++count) + ".js";
    std::ofstream(path) << script;
    const std::string plugin = "orvane-test-script-" + std::to_string(count);
    sd_bus_message* reply = nullptr;
    ASSERT_GE(sd_bus_call_method(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                 "loadScript", nullptr, &reply, "ss", path.c_str(), plugin.c_str()),
              0);
    sd_bus_message_unref(reply);
    reply = nullptr;
    ASSERT_GE(sd_bus_call_method(bus, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                 "start", nullptr, &reply, ""),
              0);
    sd_bus_message_unref(reply);
}

void placeWindows(sd_bus* bus, const std::vector<std::pair<std::string, plinth::Point>>& places) {
    std::string script = "var list = typeof workspace.windowList === 'function' ? "
                         "workspace.windowList() : workspace.clientList();\n"
                         "for (var i = 0; i < list.length; ++i) { var w = list[i];\n";
    for (const auto& [caption, at] : places) {
        script +=
            "if (w.caption === '" + caption +
            "') { var g = w.frameGeometry; w.frameGeometry = {x: " + std::to_string(int(at.x)) +
            ", y: " + std::to_string(int(at.y)) + ", width: g.width, height: g.height}; }\n";
    }
    script += "}\n";
    runInKWin(bus, script);
}

const CompositorWindow* byTitle(const CompositorSnapshot& s, const std::string& title) {
    if (!s.windows) {
        return nullptr;
    }
    for (const auto& window : *s.windows) {
        if (window.title == title) {
            return &window;
        }
    }
    return nullptr;
}

} // namespace orvane::linuxbackend::test
