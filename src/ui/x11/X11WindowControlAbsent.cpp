// A build without X11: the UI never has an X connection, so none of its requests is made.

#include "ui/x11/X11WindowControl.hpp"

namespace orvane::ui::x11 {

std::shared_ptr<linuxbackend::X11Connection> openConnection() {
    return nullptr;
}

std::optional<QRect> rootGeometry(linuxbackend::X11Connection&, unsigned long) {
    return std::nullopt;
}

void putOnAllDesktops(linuxbackend::X11Connection&, unsigned long) {}

void requestActivation(linuxbackend::X11Connection&, unsigned long) {}

bool isCompositing(linuxbackend::X11Connection&) {
    return false;
}

} // namespace orvane::ui::x11
