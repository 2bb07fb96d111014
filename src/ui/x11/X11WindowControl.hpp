#pragma once

#include <QRect>

#include <memory>
#include <optional>

namespace orvane::linuxbackend {
class X11Connection;
}

// Window-manager requests Qt does not make for us, sent on a connection of our own (Qt's event
// loop owns its own connection; we must not read events from it).
namespace orvane::ui::x11 {

// Null when the application is not on an X server (offscreen rendering, Wayland).
std::shared_ptr<linuxbackend::X11Connection> openConnection();

// The window's own area in root coordinates, as the server has it now; nullopt while it is not
// viewable or when it is gone.
std::optional<QRect> rootGeometry(linuxbackend::X11Connection& connection, unsigned long window);

// Shows the window on every workspace: the hint for an unmapped window and the request for a
// mapped one. Waits until the server has both, so a map sent by Qt afterwards comes later.
void putOnAllDesktops(linuxbackend::X11Connection& connection, unsigned long window);

// Asks the window manager to activate the window now, as a pager would (with a fresh server
// timestamp, so that no focus-stealing prevention takes it for a stale request).
void requestActivation(linuxbackend::X11Connection& connection, unsigned long window);

// A compositing manager draws translucent windows; without one their alpha is ignored.
bool isCompositing(linuxbackend::X11Connection& connection);

} // namespace orvane::ui::x11
