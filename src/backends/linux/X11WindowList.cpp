#include "X11WindowList.hpp"

#include "X11Connection.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <unordered_map>

namespace orvane::linuxbackend::X11WindowList {
namespace {

constexpr int maxTreeDepth = 16;

Window topLevelOf(X11Connection& connection, Window window) {
    Window current = window;
    for (int depth = 0; depth < maxTreeDepth; ++depth) {
        Window parent = connection.parent(current);
        if (parent == None) {
            return None;
        }
        if (parent == connection.root()) {
            return current;
        }
        current = parent;
    }
    return None;
}

bool hasType(const std::vector<long>& types, Atom type) {
    return type != None &&
           std::find(types.begin(), types.end(), static_cast<long>(type)) != types.end();
}

struct TypeAtoms {
    Atom desktop, dock, notification, tooltip, dnd, utility, toolbar, splash;
    Atom popupMenu, dropdownMenu, menu, combo;

    explicit TypeAtoms(X11Connection& c)
        : desktop(c.atom("_NET_WM_WINDOW_TYPE_DESKTOP")), dock(c.atom("_NET_WM_WINDOW_TYPE_DOCK")),
          notification(c.atom("_NET_WM_WINDOW_TYPE_NOTIFICATION")),
          tooltip(c.atom("_NET_WM_WINDOW_TYPE_TOOLTIP")), dnd(c.atom("_NET_WM_WINDOW_TYPE_DND")),
          utility(c.atom("_NET_WM_WINDOW_TYPE_UTILITY")),
          toolbar(c.atom("_NET_WM_WINDOW_TYPE_TOOLBAR")),
          splash(c.atom("_NET_WM_WINDOW_TYPE_SPLASH")),
          popupMenu(c.atom("_NET_WM_WINDOW_TYPE_POPUP_MENU")),
          dropdownMenu(c.atom("_NET_WM_WINDOW_TYPE_DROPDOWN_MENU")),
          menu(c.atom("_NET_WM_WINDOW_TYPE_MENU")), combo(c.atom("_NET_WM_WINDOW_TYPE_COMBO")) {}
};

// nullopt: not part of the list (desktop windows).
std::optional<std::int64_t> layerFor(const std::vector<long>& types, const TypeAtoms& atoms,
                                     bool overrideRedirect, bool transient) {
    if (hasType(types, atoms.desktop)) {
        return std::nullopt;
    }
    if (hasType(types, atoms.popupMenu) || hasType(types, atoms.dropdownMenu) ||
        hasType(types, atoms.menu) || hasType(types, atoms.combo)) {
        return popUpMenuLayer;
    }
    if (hasType(types, atoms.dock)) {
        return dockLayer;
    }
    if (hasType(types, atoms.notification)) {
        return notificationLayer;
    }
    if (hasType(types, atoms.tooltip) || hasType(types, atoms.dnd)) {
        return statusLayer;
    }
    if (overrideRedirect) {
        // Some toolkits (Qt 6.4) mark their pop-up menus only by an override-redirect window
        // that is transient for its parent.
        if (transient) {
            return popUpMenuLayer;
        }
        // Ours (the gaze dot) or another's, an untyped pop-up is no ordinary window.
        return statusLayer;
    }
    if (hasType(types, atoms.utility) || hasType(types, atoms.toolbar) ||
        hasType(types, atoms.splash)) {
        return floatingLayer;
    }
    return normalLayer;
}

std::optional<X11WindowInfo> describe(X11Connection& connection, const TypeAtoms& atoms,
                                      Window window, Window topLevel, bool isClient) {
    auto attributes = connection.attributes(window);
    if (!attributes || attributes->map_state != IsViewable) {
        return std::nullopt;
    }
    X11WindowInfo info;
    info.window = window;
    info.topLevel = topLevel;
    info.isClient = isClient;
    info.overrideRedirect = attributes->override_redirect;

    const auto types =
        connection.property32(window, connection.atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32)
            .value_or(std::vector<long>{});
    if (hasType(types, atoms.desktop)) {
        return std::nullopt;
    }

    if (isClient) {
        int x = 0, y = 0;
        Window child = None;
        if (!XTranslateCoordinates(connection.display(), window, connection.root(), 0, 0, &x, &y,
                                   &child)) {
            return std::nullopt;
        }
        info.clientFrame = {static_cast<double>(x), static_cast<double>(y),
                            static_cast<double>(attributes->width),
                            static_cast<double>(attributes->height)};
        info.rootFrame = info.clientFrame;
        // left, right, top, bottom
        auto extents =
            connection.property32(window, connection.atom("_NET_FRAME_EXTENTS"), XA_CARDINAL, 4);
        if (extents && extents->size() == 4) {
            const auto& e = *extents;
            info.rootFrame.x -= static_cast<double>(e[0]);
            info.rootFrame.y -= static_cast<double>(e[2]);
            info.rootFrame.width += static_cast<double>(e[0] + e[1]);
            info.rootFrame.height += static_cast<double>(e[2] + e[3]);
        }
    } else {
        const double border = attributes->border_width;
        info.rootFrame = {static_cast<double>(attributes->x), static_cast<double>(attributes->y),
                          attributes->width + 2 * border, attributes->height + 2 * border};
        info.clientFrame = info.rootFrame;
    }

    info.pid = pidOf(connection, window);
    info.title = connection.textProperty(window, "_NET_WM_NAME", "WM_NAME").value_or("");
    if (auto wmClass = connection.property8(window, XA_WM_CLASS, XA_STRING)) {
        const auto split = wmClass->find('\0');
        info.instanceName = wmClass->substr(0, split);
        if (split != std::string::npos) {
            const auto rest = wmClass->substr(split + 1);
            info.className = rest.substr(0, rest.find('\0'));
        }
    }
    info.applicationId = connection
                             .property8(window, connection.atom("_GTK_APPLICATION_ID"),
                                        connection.atom("UTF8_STRING"))
                             .value_or("");

    bool transient = false;
    if (info.overrideRedirect) {
        Window transientFor = None;
        transient = XGetTransientForHint(connection.display(), window, &transientFor) &&
                    transientFor != None;
    }
    auto layer = layerFor(types, atoms, info.overrideRedirect, transient);
    if (!layer) {
        return std::nullopt;
    }
    info.layer = *layer;
    return info;
}

} // namespace

std::optional<plinth::Rect> clientFrameOf(X11Connection& connection, Window client) {
    auto attributes = connection.attributes(client);
    if (!attributes) {
        return std::nullopt;
    }
    int x = 0, y = 0;
    Window child = None;
    if (!XTranslateCoordinates(connection.display(), client, connection.root(), 0, 0, &x, &y,
                               &child)) {
        return std::nullopt;
    }
    return plinth::Rect{static_cast<double>(x), static_cast<double>(y),
                        static_cast<double>(attributes->width),
                        static_cast<double>(attributes->height)};
}

std::optional<plinth::Rect> frameOf(X11Connection& connection, Window client) {
    auto own = clientFrameOf(connection, client);
    if (!own) {
        return std::nullopt;
    }
    plinth::Rect rect = *own;
    // left, right, top, bottom
    auto extents =
        connection.property32(client, connection.atom("_NET_FRAME_EXTENTS"), XA_CARDINAL, 4);
    if (extents && extents->size() == 4) {
        const auto& e = *extents;
        rect.x -= static_cast<double>(e[0]);
        rect.y -= static_cast<double>(e[2]);
        rect.width += static_cast<double>(e[0] + e[1]);
        rect.height += static_cast<double>(e[2] + e[3]);
    }
    return rect;
}

std::optional<pid_t> pidOf(X11Connection& connection, Window window) {
    if (auto pid = connection.property32(window, connection.atom("_NET_WM_PID"), XA_CARDINAL, 1);
        pid && !pid->empty() && (*pid)[0] > 0) {
        return static_cast<pid_t>((*pid)[0]);
    }
    if (!connection.isAlive()) {
        return std::nullopt;
    }
    XResClientIdSpec spec{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    std::optional<pid_t> result;
    if (XResQueryClientIds(connection.display(), 1, &spec, &count, &values) == Success) {
        for (long i = 0; i < count && !result; ++i) {
            pid_t pid = XResGetClientPid(&values[i]);
            if (pid > 0) {
                result = pid;
            }
        }
        XResClientIdsDestroy(count, values);
    }
    return result;
}

Window activeWindow(X11Connection& connection) {
    auto active = connection.property32(connection.root(), connection.atom("_NET_ACTIVE_WINDOW"),
                                        XA_WINDOW, 1);
    if (!active || active->empty()) {
        return None;
    }
    return static_cast<Window>((*active)[0]);
}

std::optional<std::vector<X11WindowInfo>> query(X11Connection& connection) {
    if (!connection.isAlive()) {
        return std::nullopt;
    }
    X11Connection::ErrorTrap trap(connection);
    const TypeAtoms atoms(connection);

    Window rootReturn = None, parentReturn = None;
    Window* children = nullptr;
    unsigned int childCount = 0;
    if (!XQueryTree(connection.display(), connection.root(), &rootReturn, &parentReturn, &children,
                    &childCount)) {
        return std::nullopt;
    }
    std::vector<Window> rootChildren(children, children + childCount); // bottom to top
    if (children) {
        XFree(children);
    }

    auto stacking = connection.property32(
        connection.root(), connection.atom("_NET_CLIENT_LIST_STACKING"), XA_WINDOW, 4096);
    const bool managed = stacking.has_value();

    // Clients grouped under their frame, bottom to top as the window manager stacks them.
    std::unordered_map<Window, std::vector<Window>> clientsByTopLevel;
    if (stacking) {
        for (long value : *stacking) {
            const auto client = static_cast<Window>(value);
            if (Window top = topLevelOf(connection, client); top != None) {
                clientsByTopLevel[top].push_back(client);
            }
        }
    }

    std::vector<X11WindowInfo> bottomToTop;
    for (Window child : rootChildren) {
        if (auto it = clientsByTopLevel.find(child); it != clientsByTopLevel.end()) {
            for (Window client : it->second) {
                if (auto info = describe(connection, atoms, client, child, true)) {
                    bottomToTop.push_back(std::move(*info));
                }
            }
            continue;
        }
        auto attributes = connection.attributes(child);
        if (!attributes || attributes->map_state != IsViewable ||
            attributes->c_class == InputOnly) {
            continue;
        }
        if (attributes->override_redirect) {
            if (auto info = describe(connection, atoms, child, child, false)) {
                bottomToTop.push_back(std::move(*info));
            }
        } else if (!managed) {
            // No window manager: every mapped top-level window is a client of its own.
            if (auto info = describe(connection, atoms, child, child, true)) {
                bottomToTop.push_back(std::move(*info));
            }
        }
    }
    std::reverse(bottomToTop.begin(), bottomToTop.end());
    return bottomToTop;
}

} // namespace orvane::linuxbackend::X11WindowList
