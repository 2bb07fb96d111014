#include "backends/linux/x11/X11Displays.hpp"

#include "backends/linux/x11/MonitorNaming.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "plinth/ScreenGeometry.hpp"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace orvane::linuxbackend {
namespace {

// The EDID block of an output; empty when it has none (virtual outputs, some adapters).
std::vector<std::uint8_t> outputEdid(X11Connection& connection, RROutput output) {
    std::vector<std::uint8_t> edid;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    if (XRRGetOutputProperty(connection.display(), output, connection.atom("EDID"), 0, 256, False,
                             False, AnyPropertyType, &type, &format, &count, &remaining,
                             &data) == Success &&
        data) {
        if (format == 8) {
            edid.assign(data, data + count);
        }
        XFree(data);
    }
    return edid;
}

std::string outputName(X11Connection& connection, XRRScreenResources* resources, RROutput output) {
    std::string name;
    if (resources) {
        if (XRROutputInfo* info = XRRGetOutputInfo(connection.display(), resources, output)) {
            name.assign(info->name, static_cast<std::size_t>(info->nameLen));
            XRRFreeOutputInfo(info);
        }
    }
    return name;
}

plinth::Rect intersection(const plinth::Rect& a, const plinth::Rect& b) {
    const double x1 = std::max(a.minX(), b.minX());
    const double y1 = std::max(a.minY(), b.minY());
    const double x2 = std::min(a.maxX(), b.maxX());
    const double y2 = std::min(a.maxY(), b.maxY());
    if (x2 <= x1 || y2 <= y1) {
        return {};
    }
    return {x1, y1, x2 - x1, y2 - y1};
}

// The work area of the current desktop, root coordinates.
std::optional<plinth::Rect> workArea(X11Connection& connection) {
    auto areas = connection.property32(connection.root(), connection.atom("_NET_WORKAREA"),
                                       XA_CARDINAL, 4 * 64);
    if (!areas || areas->size() < 4) {
        return std::nullopt;
    }
    std::size_t desktop = 0;
    if (auto current = connection.property32(
            connection.root(), connection.atom("_NET_CURRENT_DESKTOP"), XA_CARDINAL, 1);
        current && !current->empty() && (*current)[0] >= 0) {
        desktop = static_cast<std::size_t>((*current)[0]);
    }
    if (4 * desktop + 4 > areas->size()) {
        desktop = 0;
    }
    const auto& a = *areas;
    return plinth::Rect{
        static_cast<double>(a[4 * desktop]), static_cast<double>(a[4 * desktop + 1]),
        static_cast<double>(a[4 * desktop + 2]), static_cast<double>(a[4 * desktop + 3])};
}

} // namespace

X11Displays::X11Displays(std::shared_ptr<X11Connection> connection)
    : connection_(std::move(connection)) {}

std::vector<X11Monitor> X11Displays::monitors(X11Connection& connection) {
    std::vector<X11Monitor> result;
    if (!connection.isAlive()) {
        return result;
    }
    X11Connection::ErrorTrap trap(connection);
    int count = 0;
    XRRMonitorInfo* infos = XRRGetMonitors(connection.display(), connection.root(), True, &count);
    if (!infos) {
        return result;
    }
    XRRScreenResources* resources = nullptr;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& info = infos[i];
        X11Monitor monitor;
        monitor.rootFrame = {static_cast<double>(info.x), static_cast<double>(info.y),
                             static_cast<double>(info.width), static_cast<double>(info.height)};
        monitor.primary = info.primary;
        monitor.id = static_cast<std::uint32_t>(info.noutput > 0 ? info.outputs[0] : info.name);
        std::string own;
        if (info.name != None) {
            if (char* name = XGetAtomName(connection.display(), info.name)) {
                own = name;
                XFree(name);
            }
        }
        std::vector<std::uint8_t> edid;
        std::string output;
        if (info.noutput > 0) {
            if (!resources) {
                resources = XRRGetScreenResourcesCurrent(connection.display(), connection.root());
            }
            edid = outputEdid(connection, info.outputs[0]);
            output = outputName(connection, resources, info.outputs[0]);
        }
        monitor.name = MonitorNaming::displayName(own, info.automatic, edid, output);
        result.push_back(std::move(monitor));
    }
    if (resources) {
        XRRFreeScreenResources(resources);
    }
    XRRFreeMonitors(infos);
    std::stable_partition(result.begin(), result.end(),
                          [](const X11Monitor& monitor) { return monitor.primary; });
    return result;
}

plinth::Rect X11Displays::primaryRootFrame(X11Connection& connection) {
    auto list = monitors(connection);
    if (!list.empty()) {
        return list.front().rootFrame;
    }
    if (!connection.isAlive()) {
        return {};
    }
    ::Display* display = connection.display();
    const int screen = DefaultScreen(display);
    return {0, 0, static_cast<double>(DisplayWidth(display, screen)),
            static_cast<double>(DisplayHeight(display, screen))};
}

void X11Displays::refreshIfStale() const {
    const auto now = std::chrono::steady_clock::now();
    if (!answer_ || now - answeredAt_ >= reuseFor || now < answeredAt_) {
        // One listing for both answers.
        const auto list = monitors(*connection_);
        answer_ = screensOf(list);
        primaryRoot_ = list.empty() ? primaryRootFrame(*connection_) : list.front().rootFrame;
        answeredAt_ = now;
    }
}

std::vector<Display> X11Displays::screens() const {
    std::lock_guard lock(mutex_);
    refreshIfStale();
    return *answer_;
}

plinth::Rect X11Displays::primaryRoot() const {
    std::lock_guard lock(mutex_);
    refreshIfStale();
    return primaryRoot_;
}

void X11Displays::invalidate() {
    std::lock_guard lock(mutex_);
    answer_.reset();
}

std::vector<Display> X11Displays::screensOf(const std::vector<X11Monitor>& list) const {
    std::vector<Display> displays;
    if (list.empty()) {
        return displays;
    }
    const plinth::Rect primary = list.front().rootFrame;
    const auto area = workArea(*connection_);
    for (const auto& monitor : list) {
        Display display;
        display.id = monitor.id;
        display.localizedName = monitor.name;
        display.frame = plinth::ScreenGeometry::globalFrameFromScreen(monitor.rootFrame, primary);
        plinth::Rect visible = monitor.rootFrame;
        if (area) {
            const auto clipped = intersection(monitor.rootFrame, *area);
            if (clipped.width > 0 && clipped.height > 0) {
                visible = clipped;
            }
        }
        display.visibleFrame = plinth::ScreenGeometry::globalFrameFromScreen(visible, primary);
        displays.push_back(std::move(display));
    }
    return displays;
}

std::optional<Display> X11Displays::mainDisplay() const {
    const Window active = X11WindowList::activeWindow(*connection_);
    if (active == None) {
        return std::nullopt;
    }
    const auto frame = X11WindowList::frameOf(*connection_, active);
    if (!frame) {
        return std::nullopt;
    }
    // The monitor holding most of the window: its centre may lie on none (partly off screen).
    auto list = monitors(*connection_);
    auto all = screens();
    std::optional<std::size_t> most;
    double mostArea = 0;
    for (std::size_t i = 0; i < list.size() && i < all.size(); ++i) {
        const auto shared = intersection(list[i].rootFrame, *frame);
        if (shared.width * shared.height > mostArea) {
            mostArea = shared.width * shared.height;
            most = i;
        }
    }
    if (!most) {
        return std::nullopt;
    }
    return all[*most];
}

} // namespace orvane::linuxbackend
