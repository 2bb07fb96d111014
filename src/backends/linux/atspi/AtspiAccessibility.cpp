#include "backends/linux/atspi/AtspiAccessibility.hpp"

#include "backends/linux/atspi/AtspiBusStatus.hpp"
#include "backends/linux/atspi/AtspiElement.hpp"
#include "backends/linux/atspi/AtspiRoles.hpp"
#include "backends/linux/atspi/AtspiWindowSystem.hpp"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <string>

namespace orvane::linuxbackend {
namespace {

constexpr int callTimeoutMilliseconds = 300;
constexpr int maxHitTestDepth = 32;
constexpr int maxParentDepth = 64;
// How far (origin distance + size differences) an accessibility window may be from its window.
constexpr double windowMatchTolerance = 12.0;
// How far apart two sizes may be and still be taken for the same rectangle.
constexpr double sizeMatchTolerance = 2.0;

// Turns an AT-SPI failure into the caller's error, freeing it.
AXError takeError(GError*& error) {
    if (!error) {
        // libatspi reports some timeouts only through the result.
        return AXError::cannotComplete;
    }
    const std::string message = error->message ? error->message : "";
    g_clear_error(&error);
    if (message.find("UnknownObject") != std::string::npos ||
        message.find("Unknown object") != std::string::npos ||
        message.find("ServiceUnknown") != std::string::npos ||
        message.find("does not exist") != std::string::npos) {
        return AXError::invalidElement;
    }
    // Timeouts, a process that went away mid-call, an unreachable bus.
    return AXError::cannotComplete;
}

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

std::optional<plinth::Rect> extentsIn(AtspiAccessible* accessible, AtspiCoordType type,
                                      AXError& error) {
    ComponentRef ref(accessible);
    if (!ref.component) {
        error = AXError::attributeUnsupported;
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
    error = AXError::success;
    return result;
}

bool isWindowRole(AtspiRole role) {
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG ||
           role == ATSPI_ROLE_ALERT || role == ATSPI_ROLE_FILE_CHOOSER ||
           role == ATSPI_ROLE_COLOR_CHOOSER;
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (!states) {
        return false;
    }
    const bool result = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return result;
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
AtspiAccessible* windowElementOf(AtspiAccessible* accessible, AXError& error) {
    AtspiAccessible* current = static_cast<AtspiAccessible*>(g_object_ref(accessible));
    for (int depth = 0; depth < maxParentDepth; ++depth) {
        GError* gerror = nullptr;
        AtspiAccessible* parent = atspi_accessible_get_parent(current, &gerror);
        if (gerror || !parent) {
            if (parent) {
                g_object_unref(parent);
            }
            error = gerror ? takeError(gerror) : AXError::success;
            if (error != AXError::success) {
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
            error = AXError::success;
            return current;
        }
        g_object_unref(current);
        current = parent;
    }
    g_object_unref(current);
    error = AXError::failure;
    return nullptr;
}

std::shared_ptr<AtspiElement> wrap(AtspiAccessible* accessible, pid_t pid) {
    return std::make_shared<AtspiElement>(accessible, pid, false);
}

} // namespace

AtspiAccessibility::AtspiAccessibility(std::shared_ptr<AtspiWindowSystem> windows)
    : windows_(std::move(windows)), status_(std::make_unique<AtspiBusStatus>()) {}

AtspiAccessibility::~AtspiAccessibility() {
    if (atspiBus_) {
        dbus_connection_unref(atspiBus_);
    }
}

bool AtspiAccessibility::ensureInitialized() {
    if (initialized_) {
        return true;
    }
    if (initFailed_) {
        return false;
    }
    // Has the launcher start the bus if it is not running and publish its address where
    // libatspi reads it, instead of libatspi trying an address left by a bus that ended.
    status_->address();
    const int result = atspi_init();
    if (result != 0 && result != 1) {
        initFailed_ = true;
        return false;
    }
    // Right after a successful start this is the connection libatspi works on.
    if (DBusConnection* bus = atspi_get_a11y_bus()) {
        atspiBus_ = dbus_connection_ref(bus);
    }
    // A stopped application would otherwise block the first call for many seconds.
    atspi_set_timeout(callTimeoutMilliseconds, callTimeoutMilliseconds);
    initialized_ = true;
    return true;
}

bool AtspiAccessibility::isProcessTrusted() const {
    watchBus();
    return status_->isEnabled();
}

void AtspiAccessibility::watchBus() const {
    if (!atspiBus_ || busReplaced_ || dbus_connection_get_is_connected(atspiBus_)) {
        return;
    }
    const auto tell = [this](BusChange change) {
        if (busWatch_) {
            busWatch_(change);
        }
    };
    if (!busLost_) {
        busLost_ = true;
        tell(BusChange::lost);
    }
    if (!status_->address().empty()) {
        busReplaced_ = true;
        tell(BusChange::replaced);
    }
}

void AtspiAccessibility::promptForTrust() {
    status_->setEnabled(true);
}

AXElementRef AtspiAccessibility::applicationElement(pid_t pid) {
    AtspiAccessible* found = nullptr;
    if (ensureInitialized()) {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        if (desktop) {
            GError* error = nullptr;
            const gint count = atspi_accessible_get_child_count(desktop, &error);
            g_clear_error(&error);
            for (gint i = 0; i < count && !found; ++i) {
                AtspiAccessible* child = atspi_accessible_get_child_at_index(desktop, i, &error);
                g_clear_error(&error);
                if (!child) {
                    continue;
                }
                const guint childPid = atspi_accessible_get_process_id(child, &error);
                g_clear_error(&error);
                if (static_cast<pid_t>(childPid) == pid) {
                    found = child;
                } else {
                    g_object_unref(child);
                }
            }
            g_object_unref(desktop);
        }
    }
    return std::make_shared<AtspiElement>(found, pid, true);
}

std::optional<std::vector<pid_t>> AtspiAccessibility::registeredProcesses() {
    if (!isProcessTrusted() || !ensureInitialized()) {
        return std::nullopt;
    }
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) {
        return std::nullopt;
    }
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(desktop, &error);
    if (count < 0 || error) {
        g_clear_error(&error);
        g_object_unref(desktop);
        return std::nullopt;
    }
    std::vector<pid_t> pids;
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(desktop, i, &error);
        g_clear_error(&error);
        if (!child) {
            continue;
        }
        const guint pid = atspi_accessible_get_process_id(child, &error);
        g_clear_error(&error);
        if (pid > 0) {
            pids.push_back(static_cast<pid_t>(pid));
        }
        g_object_unref(child);
    }
    g_object_unref(desktop);
    return pids;
}

bool AtspiAccessibility::speaksAccessibility(pid_t pid) const {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        for (const char* library :
             {"/libgtk-3.so", "/libgtk-4.so", "/libQt6Gui.so", "/libQt5Gui.so"}) {
            if (line.find(library) != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

AXResult AtspiAccessibility::windowsOf(const AtspiElement& application) {
    AtspiAccessible* app = application.accessible();
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(app, &error);
    if (count < 0 || error) {
        return {takeError(error), {}};
    }
    struct Candidate {
        std::shared_ptr<AtspiElement> element;
        std::size_t stackIndex;
    };
    std::vector<Candidate> candidates;
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(app, i, &error);
        if (!child) {
            const AXError failure = takeError(error);
            if (failure == AXError::cannotComplete) {
                return {failure, {}}; // a hung application: do not wait once per child
            }
            continue;
        }
        auto element = wrap(child, application.pid());
        const AtspiRole role = atspi_accessible_get_role(child, &error);
        if (error) {
            const AXError failure = takeError(error);
            if (failure == AXError::cannotComplete) {
                return {failure, {}};
            }
            continue;
        }
        if (isWindowRole(role) && hasState(child, ATSPI_STATE_VISIBLE)) {
            candidates.push_back({std::move(element), std::numeric_limits<std::size_t>::max()});
        }
    }

    // Front to back as the window system stacks them; windows without a match keep their
    // order behind the others.
    if (candidates.size() > 1) {
        if (auto windows = windows_->windowsOf(application.pid())) {
            for (auto& candidate : candidates) {
                if (auto index = matchWindow(candidate.element->accessible(), *windows)) {
                    candidate.stackIndex = *index;
                }
            }
            std::stable_sort(
                candidates.begin(), candidates.end(),
                [](const Candidate& a, const Candidate& b) { return a.stackIndex < b.stackIndex; });
        }
    }
    std::vector<AXElementRef> elements;
    elements.reserve(candidates.size());
    for (auto& candidate : candidates) {
        elements.push_back(std::move(candidate.element));
    }
    return {AXError::success, std::move(elements)};
}

plinth::Rect AtspiAccessibility::withoutShadow(const plinth::Rect& extents, pid_t pid) {
    auto windows = windows_->windowsOf(pid);
    if (!windows) {
        return extents;
    }
    for (const auto& window : *windows) {
        if (window.surface != window.content && matchScore(extents, window.surface) < 1.0) {
            return window.content;
        }
    }
    return extents;
}

std::optional<std::size_t>
AtspiAccessibility::matchWindow(AtspiAccessible* window,
                                const std::vector<AtspiTopLevel>& windows) {
    if (windows.empty()) {
        return std::nullopt;
    }
    if (!windows_->screenCoordinatesUsable()) {
        // Nothing but the title tells the windows of one program apart.
        const std::string title = nameOf(window);
        for (std::size_t index = 0; index < windows.size(); ++index) {
            if (!title.empty() && windows[index].title == title) {
                return index;
            }
        }
        return 0;
    }
    AXError error = AXError::success;
    auto screen = extentsIn(window, ATSPI_COORD_TYPE_SCREEN, error);
    if (!screen) {
        return std::nullopt;
    }
    const auto origin = windows_->globalFromScreen({screen->x, screen->y});
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

std::optional<AtspiTopLevel> AtspiAccessibility::topLevelFor(const AtspiElement& window) {
    auto windows = windows_->windowsOf(window.pid());
    if (!windows) {
        return std::nullopt;
    }
    auto index = matchWindow(window.accessible(), *windows);
    if (!index) {
        return std::nullopt;
    }
    return (*windows)[*index];
}

// Where window-relative coordinates count from differs by toolkit (read from their sources):
// GTK 3 from its toplevel GdkWindow, the whole surface with the shadow of its own decorations;
// GTK 4 from the GtkWindow widget, the visible frame without that shadow; Qt from the QWindow,
// its content inside the decorations it draws itself. The window element's own extents say
// which: its size is that of the surface, the frame or the content, and its position is the
// window's top-left in its own coordinates.
std::optional<plinth::Point> AtspiAccessibility::windowOrigin(AtspiAccessible* window,
                                                              const AtspiTopLevel& shown,
                                                              AXError& error) {
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

std::optional<plinth::Rect> AtspiAccessibility::globalExtents(AtspiAccessible* accessible,
                                                              pid_t pid, AXError& error) {
    if (windows_->screenCoordinatesUsable()) {
        auto screen = extentsIn(accessible, ATSPI_COORD_TYPE_SCREEN, error);
        if (!screen) {
            return std::nullopt;
        }
        const auto origin = windows_->globalFromScreen({screen->x, screen->y});
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
    AtspiElement window(windowElement, pid, false);
    auto shown = topLevelFor(window);
    if (!shown) {
        error = AXError::failure;
        return std::nullopt;
    }
    auto origin = windowOrigin(windowElement, *shown, error);
    if (!origin) {
        return std::nullopt;
    }
    return plinth::Rect{origin->x + local->x, origin->y + local->y, local->width, local->height};
}

AXResult AtspiAccessibility::copyAttribute(const AXElementRef& element, const std::string& name) {
    auto* atspi = dynamic_cast<AtspiElement*>(element.get());
    if (!atspi || !atspi->accessible()) {
        return {AXError::invalidElement, {}};
    }
    AtspiAccessible* accessible = atspi->accessible();
    if (name == AXAttribute::windows) {
        if (!atspi->isApplication()) {
            return {AXError::attributeUnsupported, {}};
        }
        return windowsOf(*atspi);
    }
    if (name == AXAttribute::position || name == AXAttribute::size) {
        AXError error = AXError::success;
        auto extents = globalExtents(accessible, atspi->pid(), error);
        if (!extents) {
            return {error, {}};
        }
        extents = withoutShadow(*extents, atspi->pid());
        if (name == AXAttribute::size) {
            return {AXError::success, AXSize{extents->width, extents->height}};
        }
        return {AXError::success, plinth::Point{extents->x, extents->y}};
    }
    if (name == AXAttribute::role) {
        GError* error = nullptr;
        const AtspiRole role = atspi_accessible_get_role(accessible, &error);
        if (error) {
            return {takeError(error), {}};
        }
        bool multiLine = false, singleLine = false;
        if (role == ATSPI_ROLE_TEXT) {
            multiLine = hasState(accessible, ATSPI_STATE_MULTI_LINE);
            singleLine = hasState(accessible, ATSPI_STATE_SINGLE_LINE);
        }
        return {AXError::success, AtspiRoles::roleName(role, multiLine, singleLine)};
    }
    if (name == AXAttribute::parent) {
        GError* error = nullptr;
        AtspiAccessible* parent = atspi_accessible_get_parent(accessible, &error);
        if (error) {
            if (parent) {
                g_object_unref(parent);
            }
            return {takeError(error), {}};
        }
        if (!parent) {
            return {AXError::noValue, {}};
        }
        return {AXError::success, AXElementRef(wrap(parent, atspi->pid()))};
    }
    return {AXError::attributeUnsupported, {}};
}

AXError AtspiAccessibility::setAttribute(const AXElementRef& element, const std::string& name,
                                         bool value) {
    auto* atspi = dynamic_cast<AtspiElement*>(element.get());
    if (!atspi || !atspi->accessible()) {
        return AXError::invalidElement;
    }
    if (!value) {
        // Nothing on X takes focus or main-ness away on request.
        return AXError::attributeUnsupported;
    }
    if (name == AXAttribute::focused) {
        ComponentRef ref(atspi->accessible());
        if (!ref.component) {
            return AXError::attributeUnsupported;
        }
        GError* error = nullptr;
        const gboolean done = atspi_component_grab_focus(ref.component, &error);
        if (error) {
            return takeError(error);
        }
        return done ? AXError::success : AXError::failure;
    }
    if (name == AXAttribute::main) {
        auto window = topLevelFor(*atspi);
        if (!window) {
            return AXError::failure;
        }
        windows_->remember(atspi->pid(), window->id);
        return AXError::success;
    }
    return AXError::attributeUnsupported;
}

AXError AtspiAccessibility::performAction(const AXElementRef& element, const std::string& action) {
    auto* atspi = dynamic_cast<AtspiElement*>(element.get());
    if (!atspi || !atspi->accessible()) {
        return AXError::invalidElement;
    }
    if (action != AXAction::raise) {
        return AXError::actionUnsupported;
    }
    auto window = topLevelFor(*atspi);
    if (!window) {
        return AXError::failure;
    }
    windows_->remember(atspi->pid(), window->id);
    return windows_->raise(window->id) ? AXError::success : AXError::invalidElement;
}

AXResult AtspiAccessibility::elementAtPosition(const AXElementRef& application, float x, float y) {
    auto* atspi = dynamic_cast<AtspiElement*>(application.get());
    if (!atspi || !atspi->accessible()) {
        return {AXError::invalidElement, {}};
    }
    auto windows = windowsOf(*atspi);
    if (!windows.ok()) {
        return windows;
    }
    const bool screenUsable = windows_->screenCoordinatesUsable();
    const AtspiCoordType coordType =
        screenUsable ? ATSPI_COORD_TYPE_SCREEN : ATSPI_COORD_TYPE_WINDOW;
    const auto screen = windows_->screenFromGlobal({x, y});

    for (const auto& windowRef : std::get<std::vector<AXElementRef>>(windows.value)) {
        auto* window = static_cast<AtspiElement*>(windowRef.get());
        gint askX = static_cast<gint>(std::floor(screen.x));
        gint askY = static_cast<gint>(std::floor(screen.y));
        GError* error = nullptr;
        if (screenUsable) {
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
                const AXError failure = takeError(error);
                if (failure == AXError::cannotComplete) {
                    return {failure, {}};
                }
                continue;
            }
            if (!inside) {
                continue;
            }
        } else {
            // The frame decides, not the toolkit: the window's extents may take in its shadow,
            // and not every toolkit answers `contains` in window coordinates right.
            auto shown = topLevelFor(*window);
            if (!shown || !isInside(shown->frame, x, y)) {
                continue;
            }
            AXError failure = AXError::success;
            auto origin = windowOrigin(window->accessible(), *shown, failure);
            if (!origin) {
                if (failure == AXError::cannotComplete) {
                    return {failure, {}};
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
        return {AXError::success, AXElementRef(wrap(current, atspi->pid()))};
    }
    return {AXError::noValue, {}};
}

} // namespace orvane::linuxbackend
