#include "backends/linux/x11/X11WindowList.hpp"

#include "backends/linux/x11/X11Connection.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_map>

namespace orvane::linuxbackend::X11WindowList {
namespace {

constexpr int maxTreeDepth = 16;

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
                                     bool overrideRedirect, bool transient, bool above) {
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
    if (above || hasType(types, atoms.utility) || hasType(types, atoms.toolbar) ||
        hasType(types, atoms.splash)) {
        return floatingLayer;
    }
    return normalLayer;
}

// Four CARDINALs left, right, top, bottom; zero margins for anything else. Negative or absurd
// values (a client's mistake) are ignored rather than turned inside out.
X11Margins marginsFrom(const std::vector<long>& values) {
    constexpr long largest = 4096;
    if (values.size() != 4 || std::any_of(values.begin(), values.end(), [](long value) {
            return value < 0 || value > largest;
        })) {
        return {};
    }
    return {static_cast<double>(values[0]), static_cast<double>(values[1]),
            static_cast<double>(values[2]), static_cast<double>(values[3])};
}

// The shadow of a client, kept smaller than the client itself.
X11Margins shadowFrom(const std::vector<long>& values, const plinth::Rect& client) {
    const X11Margins margins = marginsFrom(values);
    if (margins.left + margins.right >= client.width ||
        margins.top + margins.bottom >= client.height) {
        return {};
    }
    return margins;
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
    const plinth::Rect window{static_cast<double>(x), static_cast<double>(y),
                              static_cast<double>(attributes->width),
                              static_cast<double>(attributes->height)};
    auto shadow =
        connection.property32(client, connection.atom("_GTK_FRAME_EXTENTS"), XA_CARDINAL, 4);
    return shadow ? shadowFrom(*shadow, window).shrink(window) : window;
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
    return extents ? marginsFrom(*extents).grow(rect) : rect;
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

Window transientFor(X11Connection& connection, Window window) {
    X11Connection::ErrorTrap trap(connection);
    auto parent = connection.property32(window, XA_WM_TRANSIENT_FOR, XA_WINDOW, 1);
    if (!parent || parent->empty()) {
        return None;
    }
    return static_cast<Window>((*parent)[0]);
}

namespace {

// Replies of XCB are malloc'd.
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

// Every request about one window, sent at once; the replies are read afterwards, so a whole
// window list costs a few round trips instead of a dozen per window.
struct WindowRequests {
    xcb_window_t window = XCB_NONE;
    xcb_window_t topLevel = XCB_NONE;
    bool isClient = false;
    xcb_get_window_attributes_cookie_t attributes{};
    xcb_get_geometry_cookie_t geometry{};
    xcb_translate_coordinates_cookie_t translate{};
    xcb_get_property_cookie_t extents{}, shadow{}, state{}, types{}, pid{}, netName{}, name{},
        wmClass{}, appId{}, transient{};
};

struct PropertyAtoms {
    xcb_atom_t frameExtents, gtkFrameExtents, state, above, windowType, pid, netWmName, utf8,
        gtkApplicationId;
    explicit PropertyAtoms(X11Connection& c)
        : frameExtents(c.atom("_NET_FRAME_EXTENTS")), gtkFrameExtents(c.atom("_GTK_FRAME_EXTENTS")),
          state(c.atom("_NET_WM_STATE")), above(c.atom("_NET_WM_STATE_ABOVE")),
          windowType(c.atom("_NET_WM_WINDOW_TYPE")), pid(c.atom("_NET_WM_PID")),
          netWmName(c.atom("_NET_WM_NAME")), utf8(c.atom("UTF8_STRING")),
          gtkApplicationId(c.atom("_GTK_APPLICATION_ID")) {}
};

void send(xcb_connection_t* c, xcb_window_t root, const PropertyAtoms& atoms, WindowRequests& r) {
    const xcb_window_t w = r.window;
    r.attributes = xcb_get_window_attributes(c, w);
    r.geometry = xcb_get_geometry(c, w);
    r.translate = xcb_translate_coordinates(c, w, root, 0, 0);
    r.extents = xcb_get_property(c, 0, w, atoms.frameExtents, XCB_ATOM_CARDINAL, 0, 4);
    r.shadow = xcb_get_property(c, 0, w, atoms.gtkFrameExtents, XCB_ATOM_CARDINAL, 0, 4);
    r.state = xcb_get_property(c, 0, w, atoms.state, XCB_ATOM_ATOM, 0, 32);
    r.types = xcb_get_property(c, 0, w, atoms.windowType, XCB_ATOM_ATOM, 0, 32);
    r.pid = xcb_get_property(c, 0, w, atoms.pid, XCB_ATOM_CARDINAL, 0, 1);
    r.netName = xcb_get_property(c, 0, w, atoms.netWmName, atoms.utf8, 0, 1024);
    r.name = xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    r.wmClass = xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 1024);
    r.appId = xcb_get_property(c, 0, w, atoms.gtkApplicationId, atoms.utf8, 0, 256);
    r.transient = xcb_get_property(c, 0, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1);
}

Reply<xcb_get_property_reply_t> property(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
    if (reply && reply->type == XCB_NONE) {
        reply.reset();
    }
    return reply;
}

std::string text(const xcb_get_property_reply_t& reply) {
    return {static_cast<const char*>(xcb_get_property_value(&reply)),
            static_cast<std::size_t>(xcb_get_property_value_length(&reply))};
}

std::vector<long> cardinals(const xcb_get_property_reply_t& reply) {
    std::vector<long> values;
    if (reply.format != 32) {
        return values;
    }
    const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(&reply));
    values.assign(items, items + xcb_get_property_value_length(&reply) / 4);
    return values;
}

// Reads every reply (each must be taken, used or not) and describes the window; nullopt when it
// is not viewable, is gone, or is a desktop window.
std::optional<X11WindowInfo> receive(X11Connection& connection, xcb_connection_t* c,
                                     const TypeAtoms& types, const PropertyAtoms& atoms,
                                     WindowRequests& r) {
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, r.attributes, nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, r.geometry, nullptr));
    Reply<xcb_translate_coordinates_reply_t> translated(
        xcb_translate_coordinates_reply(c, r.translate, nullptr));
    auto extents = property(c, r.extents);
    auto shadow = property(c, r.shadow);
    auto state = property(c, r.state);
    auto typeList = property(c, r.types);
    auto pid = property(c, r.pid);
    auto netName = property(c, r.netName);
    auto name = property(c, r.name);
    auto wmClass = property(c, r.wmClass);
    auto appId = property(c, r.appId);
    auto transient = property(c, r.transient);

    if (!attributes || !geometry || !translated ||
        attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
        return std::nullopt;
    }
    const auto windowTypes = typeList ? cardinals(*typeList) : std::vector<long>{};
    X11WindowInfo info;
    info.window = r.window;
    info.topLevel = r.topLevel;
    info.isClient = r.isClient;
    info.overrideRedirect = attributes->override_redirect;

    const double border = r.isClient ? 0.0 : geometry->border_width;
    info.clientFrame = {static_cast<double>(translated->dst_x) - border,
                        static_cast<double>(translated->dst_y) - border,
                        geometry->width + 2 * border, geometry->height + 2 * border};
    if (shadow) {
        info.shadow = shadowFrom(cardinals(*shadow), info.clientFrame);
        info.clientFrame = info.shadow.shrink(info.clientFrame);
    }
    info.rootFrame = info.clientFrame;
    if (r.isClient && extents) {
        info.rootFrame = marginsFrom(cardinals(*extents)).grow(info.rootFrame);
    }
    info.keptAbove = state && hasType(cardinals(*state), atoms.above);

    if (pid) {
        const auto values = cardinals(*pid);
        if (!values.empty() && values[0] > 0) {
            info.pid = static_cast<pid_t>(values[0]);
        }
    }
    if (!info.pid) {
        info.pid = pidOf(connection, r.window); // rare: no _NET_WM_PID
    }
    if (netName) {
        info.title = text(*netName);
    } else if (name) {
        info.title = name->type == XCB_ATOM_STRING ? latin1ToUtf8(text(*name)) : text(*name);
    }
    if (wmClass) {
        const auto value = text(*wmClass);
        const auto split = value.find('\0');
        info.instanceName = value.substr(0, split);
        if (split != std::string::npos) {
            const auto rest = value.substr(split + 1);
            info.className = rest.substr(0, rest.find('\0'));
        }
    }
    if (appId) {
        info.applicationId = text(*appId);
    }
    const bool isTransient =
        transient && !cardinals(*transient).empty() && cardinals(*transient)[0] != XCB_NONE;
    auto layer = layerFor(windowTypes, types, info.overrideRedirect, isTransient, info.keptAbove);
    if (!layer) {
        return std::nullopt;
    }
    info.layer = *layer;
    return info;
}

} // namespace

std::optional<std::vector<X11WindowInfo>> query(X11Connection& connection,
                                                std::vector<X11RootChild>* rootStack) {
    xcb_connection_t* c = connection.xcb();
    if (!connection.isAlive() || !c) {
        return std::nullopt;
    }
    const TypeAtoms types(connection);
    const PropertyAtoms atoms(connection);
    const xcb_window_t root = static_cast<xcb_window_t>(connection.root());

    auto treeCookie = xcb_query_tree(c, root);
    auto stackingCookie = xcb_get_property(c, 0, root, connection.atom("_NET_CLIENT_LIST_STACKING"),
                                           XCB_ATOM_WINDOW, 0, 4096);
    auto listCookie =
        xcb_get_property(c, 0, root, connection.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 4096);
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, treeCookie, nullptr));
    auto stacking = property(c, stackingCookie);
    auto list = property(c, listCookie);
    if (!tree) {
        return std::nullopt;
    }
    // xfwm4 writes the stacking list only once it first restacks; until then its plain list
    // names the same clients, and their order comes from the root's children below.
    if (!stacking) {
        stacking = std::move(list);
    }
    const xcb_window_t* childrenBegin = xcb_query_tree_children(tree.get());
    const std::vector<xcb_window_t> rootChildren(
        childrenBegin, childrenBegin + xcb_query_tree_children_length(tree.get())); // bottom up
    const bool managed = stacking != nullptr;
    std::vector<xcb_window_t> clients;
    if (stacking) {
        for (long value : cardinals(*stacking)) {
            clients.push_back(static_cast<xcb_window_t>(value));
        }
    }

    // Round 1: every client's description and parent, every root child's attributes.
    std::vector<WindowRequests> clientRequests(clients.size());
    std::vector<xcb_query_tree_cookie_t> parentCookies(clients.size());
    for (std::size_t i = 0; i < clients.size(); ++i) {
        clientRequests[i].window = clients[i];
        clientRequests[i].isClient = true;
        send(c, root, atoms, clientRequests[i]);
        parentCookies[i] = xcb_query_tree(c, clients[i]);
    }
    std::vector<xcb_get_window_attributes_cookie_t> childCookies(rootChildren.size());
    std::vector<xcb_get_geometry_cookie_t> childGeometry(rootStack ? rootChildren.size() : 0);
    for (std::size_t i = 0; i < rootChildren.size(); ++i) {
        childCookies[i] = xcb_get_window_attributes(c, rootChildren[i]);
        if (rootStack) {
            childGeometry[i] = xcb_get_geometry(c, rootChildren[i]);
        }
    }

    // Each client's frame: walk up until the root's child (window managers nest one or two deep).
    std::vector<xcb_window_t> current(clients.size(), XCB_NONE);
    std::vector<xcb_window_t> topLevel(clients.size(), XCB_NONE);
    for (std::size_t i = 0; i < clients.size(); ++i) {
        Reply<xcb_query_tree_reply_t> up(xcb_query_tree_reply(c, parentCookies[i], nullptr));
        if (!up) {
            continue;
        }
        if (up->parent == root) {
            topLevel[i] = clients[i];
        } else {
            current[i] = up->parent;
        }
    }
    for (int depth = 1; depth < maxTreeDepth; ++depth) {
        bool pending = false;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (current[i] != XCB_NONE) {
                parentCookies[i] = xcb_query_tree(c, current[i]);
                pending = true;
            }
        }
        if (!pending) {
            break;
        }
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (current[i] == XCB_NONE) {
                continue;
            }
            Reply<xcb_query_tree_reply_t> up(xcb_query_tree_reply(c, parentCookies[i], nullptr));
            if (!up) {
                current[i] = XCB_NONE;
            } else if (up->parent == root) {
                topLevel[i] = current[i];
                current[i] = XCB_NONE;
            } else {
                current[i] = up->parent;
            }
        }
    }

    std::unordered_map<xcb_window_t, std::vector<X11WindowInfo>> clientsByTopLevel;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        clientRequests[i].topLevel = topLevel[i];
        auto info = receive(connection, c, types, atoms, clientRequests[i]);
        if (info && topLevel[i] != XCB_NONE) {
            clientsByTopLevel[topLevel[i]].push_back(std::move(*info));
        }
    }

    // Round 2: describe the mapped root children that are no client's frame.
    std::vector<WindowRequests> others;
    if (rootStack) {
        rootStack->clear();
        for (std::size_t i = 0; i < rootChildren.size(); ++i) {
            Reply<xcb_get_geometry_reply_t> geometry(
                xcb_get_geometry_reply(c, childGeometry[i], nullptr));
            if (geometry) {
                const double outer = 2.0 * geometry->border_width;
                rootStack->push_back(
                    {rootChildren[i],
                     {static_cast<double>(geometry->x), static_cast<double>(geometry->y),
                      geometry->width + outer, geometry->height + outer}});
            }
        }
    }
    for (std::size_t i = 0; i < rootChildren.size(); ++i) {
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, childCookies[i], nullptr));
        if (!attributes || clientsByTopLevel.count(rootChildren[i]) ||
            attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
            continue;
        }
        // Without a window manager every mapped top-level window is a client of its own.
        if (!attributes->override_redirect && managed) {
            continue;
        }
        WindowRequests request;
        request.window = rootChildren[i];
        request.topLevel = rootChildren[i];
        request.isClient = !attributes->override_redirect;
        others.push_back(request);
    }
    for (auto& request : others) {
        send(c, root, atoms, request);
    }
    std::unordered_map<xcb_window_t, X11WindowInfo> otherInfo;
    for (auto& request : others) {
        if (auto info = receive(connection, c, types, atoms, request)) {
            otherInfo.emplace(request.window, std::move(*info));
        }
    }

    std::vector<X11WindowInfo> bottomToTop;
    for (xcb_window_t child : rootChildren) {
        if (auto it = clientsByTopLevel.find(child); it != clientsByTopLevel.end()) {
            for (auto& info : it->second) {
                bottomToTop.push_back(std::move(info));
            }
        } else if (auto other = otherInfo.find(child); other != otherInfo.end()) {
            bottomToTop.push_back(std::move(other->second));
        }
    }
    std::reverse(bottomToTop.begin(), bottomToTop.end());
    return bottomToTop;
}

} // namespace orvane::linuxbackend::X11WindowList
