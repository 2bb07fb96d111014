#pragma once

#include "backends/linux/atspi/AtspiElement.hpp"
#include "backends/linux/atspi/AtspiWindowSystem.hpp"
#include "orvane/platform/AccessibilityService.hpp"

#include <atspi/atspi.h>

#include <optional>
#include <vector>

namespace orvane::linuxbackend {

// The questions the accessibility backend asks AT-SPI on its worker thread: a program's
// windows, an element's frame, role and parent, the element at a point, each matched against the
// window system's own windows.

constexpr int callTimeoutMilliseconds = 300;

// Turns an AT-SPI failure into the caller's error, freeing it.
AccessError takeError(GError*& error);

struct ComponentRef {
    AtspiComponent* component = nullptr;
    explicit ComponentRef(AtspiAccessible* accessible)
        : component(accessible ? atspi_accessible_get_component_iface(accessible) : nullptr) {}
    ~ComponentRef() {
        if (component) {
            g_object_unref(component);
        }
    }
    ComponentRef(const ComponentRef&) = delete;
    ComponentRef& operator=(const ComponentRef&) = delete;
};

// What the worker needs of the window system, read on the main thread before handing over:
// the windows of the one program asked about and how screen coordinates relate to the global
// space (a shift).
struct WindowView {
    std::optional<std::vector<AtspiTopLevel>> windows;
    bool screenUsable = false;
    plinth::Point shift; // screen = global + shift

    plinth::Point screenFromGlobal(plinth::Point global) const {
        return {global.x + shift.x, global.y + shift.y};
    }
    plinth::Point globalFromScreen(plinth::Point screen) const {
        return {screen.x - shift.x, screen.y - shift.y};
    }
};

WindowView viewOf(AtspiWindowSystem& windows, pid_t pid);

// The window system's window that shows this window element.
std::optional<AtspiTopLevel> topLevelFor(AtspiAccessible* window, const WindowView& view);

// An application's window elements, front to back as the window system stacks them.
AccessResult<std::vector<AccessibleRef>> windowsOnWorker(const AtspiElement& application,
                                                         const WindowView& view);
AccessResult<plinth::Rect> frameOnWorker(const AtspiElement& element, const WindowView& view);
AccessResult<AccessibleRole> roleOnWorker(const AtspiElement& element);
AccessResult<AccessibleRef> parentOnWorker(const AtspiElement& element);

AccessResult<AccessibleRef> elementAtOnWorker(const AtspiElement& application,
                                              const WindowView& view, plinth::Point point);

} // namespace orvane::linuxbackend
