#include "backends/linux/atspi/AtspiWindowQueries.hpp"

#include "backends/linux/atspi/AtspiRoles.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace orvane::linuxbackend {
namespace {

constexpr int maxHitTestDepth = 32;
constexpr int maxParentDepth = 64;
// How far (origin distance + size differences) an accessibility window may be from its window.
constexpr double windowMatchTolerance = 12.0;
// How far apart two sizes may be and still be taken for the same rectangle.
constexpr double sizeMatchTolerance = 2.0;

} // namespace

// Turns an AT-SPI failure into the caller's error, freeing it.
AccessError takeError(GError*& error) {
    if (!error) {
        // libatspi reports some timeouts only through the result.
        return AccessError::cannotComplete;
    }
    const std::string message = error->message ? error->message : "";
    g_clear_error(&error);
    if (message.find("UnknownObject") != std::string::npos ||
        message.find("Unknown object") != std::string::npos ||
        message.find("ServiceUnknown") != std::string::npos ||
        message.find("does not exist") != std::string::npos) {
        return AccessError::invalidElement;
    }
    // Timeouts, a process that went away mid-call, an unreachable bus.
    return AccessError::cannotComplete;
}

namespace {

// On failure `error` says why; it is left alone otherwise.
std::optional<plinth::Rect> extentsIn(AtspiAccessible* accessible, AtspiCoordType type,
                                      AccessError& error) {
    ComponentRef ref(accessible);
    if (!ref.component) {
        error = AccessError::unsupported;
        return std::nullopt;
    }
    GError* gerror = nullptr;
    AtspiRect* rect = atspi_component_get_extents(ref.component, type, &gerror);
    if (!rect) {
        error = takeError(gerror);
        return std::nullopt;
    }
    g_clear_error(&gerror);
    plinth::Rect result{static_cast<double>(rect->x), static_cast<double>(rect->y),
                        static_cast<double>(rect->width), static_cast<double>(rect->height)};
    g_boxed_free(ATSPI_TYPE_RECT, rect);
    return result;
}

bool isWindowRole(AtspiRole role) {
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG ||
           role == ATSPI_ROLE_ALERT || role == ATSPI_ROLE_FILE_CHOOSER ||
           role == ATSPI_ROLE_COLOR_CHOOSER;
}

double matchScore(const plinth::Rect& a, const plinth::Rect& b) {
    return std::hypot(a.x - b.x, a.y - b.y) + std::abs(a.width - b.width) +
           std::abs(a.height - b.height);
}

// How far a window element is from a window. GTK reports the whole client window, shadow
// included, Qt the client area, some the window manager's frame.
double windowScore(const plinth::Rect& extents, const AtspiTopLevel& window) {
    return std::min({matchScore(extents, window.content), matchScore(extents, window.frame),
                     matchScore(extents, window.surface)});
}

bool sameSize(const plinth::Rect& a, const plinth::Rect& b) {
    return std::abs(a.width - b.width) + std::abs(a.height - b.height) <= sizeMatchTolerance;
}

bool isInside(const plinth::Rect& rect, float x, float y) {
    return x >= rect.minX() && x < rect.maxX() && y >= rect.minY() && y < rect.maxY();
}

std::string nameOf(AtspiAccessible* accessible) {
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_name(accessible, &error);
    g_clear_error(&error);
    std::string result = name ? name : "";
    g_free(name);
    return result;
}

// The top-level window element an element belongs to (itself for a window): the ancestor
// whose parent is the application. A new reference; null when the chain breaks off.
AtspiAccessible* windowElementOf(AtspiAccessible* accessible, AccessError& error) {
    AtspiAccessible* current = static_cast<AtspiAccessible*>(g_object_ref(accessible));
    for (int depth = 0; depth < maxParentDepth; ++depth) {
        GError* gerror = nullptr;
        AtspiAccessible* parent = atspi_accessible_get_parent(current, &gerror);
        if (gerror || !parent) {
            if (parent) {
                g_object_unref(parent);
            }
            if (gerror) {
                error = takeError(gerror);
                g_object_unref(current);
                return nullptr;
            }
            return current; // no application above: the top is the window
        }
        const AtspiRole role = atspi_accessible_get_role(parent, &gerror);
        if (gerror) {
            g_object_unref(parent);
            g_object_unref(current);
            error = takeError(gerror);
            return nullptr;
        }
        if (role == ATSPI_ROLE_APPLICATION) {
            g_object_unref(parent);
            return current;
        }
        g_object_unref(current);
        current = parent;
    }
    g_object_unref(current);
    error = AccessError::failure;
    return nullptr;
}

std::shared_ptr<AtspiElement> wrap(AtspiAccessible* accessible, pid_t pid) {
    return std::make_shared<AtspiElement>(accessible, pid, false);
}

} // namespace

WindowView viewOf(AtspiWindowSystem& windows, pid_t pid) {
    WindowView view;
    view.windows = windows.windowsOf(pid);
    view.screenUsable = windows.screenCoordinatesUsable();
    view.shift = windows.screenFromGlobal({0, 0});
    return view;
}

namespace {

// Which of `windows` shows this window element: the one of the same frame within a few
// points in screen coordinates; else the one of its title, or the frontmost.
std::optional<std::size_t> matchWindow(AtspiAccessible* window,
                                       const std::vector<AtspiTopLevel>& windows,
                                       const WindowView& view) {
    if (windows.empty()) {
        return std::nullopt;
    }
    if (!view.screenUsable) {
        // Nothing but the title tells the windows of one program apart.
        const std::string title = nameOf(window);
        for (std::size_t index = 0; index < windows.size(); ++index) {
            if (!title.empty() && windows[index].title == title) {
                return index;
            }
        }
        return 0;
    }
    AccessError error = AccessError::failure;
    auto screen = extentsIn(window, ATSPI_COORD_TYPE_SCREEN, error);
    if (!screen) {
        return std::nullopt;
    }
    const auto origin = view.globalFromScreen({screen->x, screen->y});
    const plinth::Rect extents{origin.x, origin.y, screen->width, screen->height};
    std::optional<std::size_t> best;
    double bestScore = windowMatchTolerance;
    for (std::size_t index = 0; index < windows.size(); ++index) {
        const double score = windowScore(extents, windows[index]);
        if (score < bestScore) {
            bestScore = score;
            best = index;
        }
    }
    return best;
}

} // namespace

std::optional<AtspiTopLevel> topLevelFor(AtspiAccessible* window, const WindowView& view) {
    if (!view.windows) {
        return std::nullopt;
    }
    auto index = matchWindow(window, *view.windows, view);
    if (!index) {
        return std::nullopt;
    }
    return (*view.windows)[*index];
}

AccessResult<std::vector<AccessibleRef>> windowsOnWorker(const AtspiElement& application,
                                                         const WindowView& view) {
    AtspiAccessible* app = application.accessible();
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(app, &error);
    if (count < 0 || error) {
        return takeError(error);
    }
    struct Candidate {
        std::shared_ptr<AtspiElement> element;
        std::size_t stackIndex;
    };
    std::vector<Candidate> candidates;
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(app, i, &error);
        if (!child) {
            const AccessError failure = takeError(error);
            if (failure == AccessError::cannotComplete) {
                return failure; // a hung application: do not wait once per child
            }
            continue;
        }
        auto element = wrap(child, application.pid());
        const AtspiRole role = atspi_accessible_get_role(child, &error);
        if (error) {
            const AccessError failure = takeError(error);
            if (failure == AccessError::cannotComplete) {
                return failure;
            }
            continue;
        }
        if (isWindowRole(role) && AtspiRoles::hasState(child, ATSPI_STATE_VISIBLE)) {
            candidates.push_back({std::move(element), std::numeric_limits<std::size_t>::max()});
        }
    }

    // Front to back as the window system stacks them; windows without a match keep their
    // order behind the others.
    if (candidates.size() > 1 && view.windows) {
        for (auto& candidate : candidates) {
            if (auto index = matchWindow(candidate.element->accessible(), *view.windows, view)) {
                candidate.stackIndex = *index;
            }
        }
        std::stable_sort(
            candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.stackIndex < b.stackIndex; });
    }
    std::vector<AccessibleRef> elements;
    elements.reserve(candidates.size());
    for (auto& candidate : candidates) {
        elements.push_back(std::move(candidate.element));
    }
    return elements;
}

namespace {

// A window element's extents as the user sees the window: a client window's invisible
// shadow taken off. Any other extents unchanged.
plinth::Rect withoutShadow(const plinth::Rect& extents, const WindowView& view) {
    if (!view.windows) {
        return extents;
    }
    for (const auto& window : *view.windows) {
        if (window.surface != window.content && matchScore(extents, window.surface) < 1.0) {
            return window.content;
        }
    }
    return extents;
}

// Where window-relative coordinates count from differs by toolkit (read from their sources):
// GTK 3 from its toplevel GdkWindow, the whole surface with the shadow of its own decorations;
// GTK 4 from the GtkWindow widget, the visible frame without that shadow; Qt from the QWindow,
// its content inside the decorations it draws itself. The window element's own extents say
// which: its size is that of the surface, the frame or the content, and its position is the
// window's top-left in its own coordinates.
std::optional<plinth::Point> windowOrigin(AtspiAccessible* window, const AtspiTopLevel& shown,
                                          AccessError& error) {
    auto own = extentsIn(window, ATSPI_COORD_TYPE_WINDOW, error);
    if (!own) {
        return std::nullopt;
    }
    plinth::Point corner{shown.surface.x, shown.surface.y};
    if (sameSize(*own, shown.surface)) {
        // as assumed
    } else if (sameSize(*own, shown.frame)) {
        corner = {shown.frame.x, shown.frame.y};
    } else if (own->width <= shown.frame.width && own->height <= shown.frame.height) {
        // Decorations the compositor does not know of: as wide at the sides as at the bottom,
        // the rest a title bar.
        const double side = (shown.frame.width - own->width) / 2;
        corner = {shown.frame.x + side, shown.frame.maxY() - side - own->height};
    }
    return plinth::Point{corner.x - own->x, corner.y - own->y};
}

// Extents in the global space.
std::optional<plinth::Rect> globalExtents(AtspiAccessible* accessible, const WindowView& view,
                                          AccessError& error) {
    if (view.screenUsable) {
        auto screen = extentsIn(accessible, ATSPI_COORD_TYPE_SCREEN, error);
        if (!screen) {
            return std::nullopt;
        }
        const auto origin = view.globalFromScreen({screen->x, screen->y});
        return plinth::Rect{origin.x, origin.y, screen->width, screen->height};
    }
    auto local = extentsIn(accessible, ATSPI_COORD_TYPE_WINDOW, error);
    if (!local) {
        return std::nullopt;
    }
    AtspiAccessible* windowElement = windowElementOf(accessible, error);
    if (!windowElement) {
        return std::nullopt;
    }
    struct Unref {
        AtspiAccessible* held;
        ~Unref() { g_object_unref(held); }
    } unref{windowElement};
    auto shown = topLevelFor(windowElement, view);
    if (!shown) {
        error = AccessError::failure;
        return std::nullopt;
    }
    auto origin = windowOrigin(windowElement, *shown, error);
    if (!origin) {
        return std::nullopt;
    }
    return plinth::Rect{origin->x + local->x, origin->y + local->y, local->width, local->height};
}

} // namespace

AccessResult<plinth::Rect> frameOnWorker(const AtspiElement& element, const WindowView& view) {
    AccessError error = AccessError::failure;
    auto extents = globalExtents(element.accessible(), view, error);
    if (!extents) {
        return error;
    }
    return withoutShadow(*extents, view);
}

AccessResult<AccessibleRole> roleOnWorker(const AtspiElement& element) {
    AtspiAccessible* accessible = element.accessible();
    GError* error = nullptr;
    const AtspiRole role = atspi_accessible_get_role(accessible, &error);
    if (error) {
        return takeError(error);
    }
    bool multiLine = false, singleLine = false;
    if (role == ATSPI_ROLE_TEXT) {
        multiLine = AtspiRoles::hasState(accessible, ATSPI_STATE_MULTI_LINE);
        singleLine = AtspiRoles::hasState(accessible, ATSPI_STATE_SINGLE_LINE);
    }
    return AtspiRoles::role(role, multiLine, singleLine);
}

AccessResult<AccessibleRef> parentOnWorker(const AtspiElement& element) {
    GError* error = nullptr;
    AtspiAccessible* parent = atspi_accessible_get_parent(element.accessible(), &error);
    if (error) {
        if (parent) {
            g_object_unref(parent);
        }
        return takeError(error);
    }
    if (!parent) {
        return AccessError::noValue;
    }
    return AccessibleRef(wrap(parent, element.pid()));
}

AccessResult<AccessibleRef> elementAtOnWorker(const AtspiElement& application,
                                              const WindowView& view, plinth::Point point) {
    auto windows = windowsOnWorker(application, view);
    if (!windows.ok()) {
        return *windows.error();
    }
    // Single precision, as points were always handed to the toolkits.
    const float x = static_cast<float>(point.x);
    const float y = static_cast<float>(point.y);
    const AtspiCoordType coordType =
        view.screenUsable ? ATSPI_COORD_TYPE_SCREEN : ATSPI_COORD_TYPE_WINDOW;
    const auto screen = view.screenFromGlobal({x, y});

    for (const auto& windowRef : *windows.value()) {
        auto* window = static_cast<AtspiElement*>(windowRef.get());
        gint askX = static_cast<gint>(std::floor(screen.x));
        gint askY = static_cast<gint>(std::floor(screen.y));
        GError* error = nullptr;
        if (view.screenUsable) {
            bool inside = false;
            {
                ComponentRef ref(window->accessible());
                if (!ref.component) {
                    continue;
                }
                inside = atspi_component_contains(ref.component, askX, askY,
                                                  ATSPI_COORD_TYPE_SCREEN, &error);
            }
            if (error) {
                const AccessError failure = takeError(error);
                if (failure == AccessError::cannotComplete) {
                    return failure;
                }
                continue;
            }
            if (!inside) {
                continue;
            }
        } else {
            // The frame decides, not the toolkit: the window's extents may take in its shadow,
            // and not every toolkit answers `contains` in window coordinates right.
            auto shown = topLevelFor(window->accessible(), view);
            if (!shown || !isInside(shown->frame, x, y)) {
                continue;
            }
            AccessError failure = AccessError::failure;
            auto origin = windowOrigin(window->accessible(), *shown, failure);
            if (!origin) {
                if (failure == AccessError::cannotComplete) {
                    return failure;
                }
                continue;
            }
            askX = static_cast<gint>(std::floor(x - origin->x));
            askY = static_cast<gint>(std::floor(y - origin->y));
        }
        // Descend until no deeper child answers.
        AtspiAccessible* current =
            static_cast<AtspiAccessible*>(g_object_ref(window->accessible()));
        for (int depth = 0; depth < maxHitTestDepth; ++depth) {
            ComponentRef ref(current);
            if (!ref.component) {
                break;
            }
            AtspiAccessible* child = atspi_component_get_accessible_at_point(
                ref.component, askX, askY, coordType, &error);
            g_clear_error(&error);
            if (!child) {
                break;
            }
            if (child == current) {
                g_object_unref(child);
                break;
            }
            g_object_unref(current);
            current = child;
        }
        return AccessibleRef(wrap(current, application.pid()));
    }
    return AccessError::noValue;
}

} // namespace orvane::linuxbackend
