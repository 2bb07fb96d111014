// Prints one line per window the compositor newly reports activated through the wlroots
// foreign-toplevel list: the monotonic time its `done` came (seconds, the clock orvane's log
// uses) and its title; and "+ TITLE" when a window is first listed. For the labwc tests, which wait
// on focus changes and time them; it shares no code with the backend it checks.
//   orvane_toplevel_focus_watch
// Runs until the compositor goes away or it is killed.

#include <wayland-client.h>

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Toplevel {
    std::string title;
    bool activated = false;
    bool wasActivated = false;
    bool listed = false;
};

void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    static_cast<Toplevel*>(data)->title = title;
}
void onAppId(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    auto* toplevel = static_cast<Toplevel*>(data);
    toplevel->activated = false;
    const auto* values = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
        toplevel->activated |= values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    }
}
void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto* toplevel = static_cast<Toplevel*>(data);
    if (!toplevel->listed) {
        toplevel->listed = true;
        std::printf("+ %s\n", toplevel->title.c_str());
    }
    if (toplevel->activated && !toplevel->wasActivated) {
        std::printf("%.6f %s\n", monotonicSeconds(), toplevel->title.c_str());
    }
    std::fflush(stdout);
    toplevel->wasActivated = toplevel->activated;
}
void onClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    delete static_cast<Toplevel*>(data);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
}
void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

const zwlr_foreign_toplevel_handle_v1_listener handleListener = {
    onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed, onParent,
};

void onToplevel(void*, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, new Toplevel);
}
void onFinished(void*, zwlr_foreign_toplevel_manager_v1*) {}
const zwlr_foreign_toplevel_manager_v1_listener managerListener = {onToplevel, onFinished};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto** manager = static_cast<zwlr_foreign_toplevel_manager_v1**>(data);
    if (!*manager && std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
        *manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                             version < 3 ? version : 3));
        zwlr_foreign_toplevel_manager_v1_add_listener(*manager, &managerListener, nullptr);
    }
}
void onGlobalRemoved(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener registryListener = {onGlobal, onGlobalRemoved};

} // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot connect to the Wayland display\n");
        return 1;
    }
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &manager);
    wl_display_roundtrip(display);
    if (!manager) {
        std::fprintf(stderr, "the compositor offers no foreign-toplevel manager\n");
        return 1;
    }
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
