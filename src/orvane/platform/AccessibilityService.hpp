#pragma once

#include "plinth/Geometry.hpp"

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace orvane {

// An element of another application's accessibility tree (an application, a window, a text
// area...). Opaque: only the service that made it can use it. Elements are never kept beyond
// the operation that obtained them.
class AXElement {
public:
    virtual ~AXElement() = default;
};
using AXElementRef = std::shared_ptr<AXElement>;

struct AXSize {
    double width = 0, height = 0;
};

// An attribute value. `std::monostate` means the attribute exists but has no value.
// "AXPosition" is a Point and "AXSize" an AXSize, both in the global top-left space.
using AXValue = std::variant<std::monostate, bool, std::string, plinth::Point, AXSize, AXElementRef,
                             std::vector<AXElementRef>>;

enum class AXError {
    success = 0,
    failure,              // the application answered with an error
    attributeUnsupported, // the element has no such attribute
    actionUnsupported,
    noValue,
    invalidElement, // the element (or its process) is gone
    cannotComplete, // no answer in time, or the application could not be reached
    notImplemented,
    apiDisabled, // this process is not trusted
};

struct AXResult {
    AXError error = AXError::success;
    AXValue value;

    bool ok() const { return error == AXError::success; }
};

namespace AXAttribute {
inline constexpr const char* windows = "AXWindows";
inline constexpr const char* position = "AXPosition";
inline constexpr const char* size = "AXSize";
inline constexpr const char* role = "AXRole";
inline constexpr const char* parent = "AXParent";
inline constexpr const char* main = "AXMain";
inline constexpr const char* focused = "AXFocused";
} // namespace AXAttribute

namespace AXAction {
inline constexpr const char* raise = "AXRaise";
} // namespace AXAction

// The platform's interface to other applications' user interfaces. Every call may reach
// another process; a backend bounds each call in time and answers `cannotComplete` rather
// than let a hung application freeze the caller. Main thread only.
class AccessibilityService {
public:
    virtual ~AccessibilityService() = default;

    // True when this process may use the interface. Asked afresh every time.
    virtual bool isProcessTrusted() const = 0;

    // Shows the platform's own request to grant trust; the answer arrives later, if ever,
    // through `isProcessTrusted`.
    virtual void promptForTrust() = 0;

    // An element standing for the application with this process id. Never null; whether the
    // process exists shows only in the answers to later calls.
    virtual AXElementRef applicationElement(pid_t pid) = 0;

    // "AXWindows" answers a vector of elements, front to back; "AXRole" text; "AXParent" an
    // element; geometry as noted at `AXValue`.
    virtual AXResult copyAttribute(const AXElementRef& element, const std::string& name) = 0;

    // Sets a boolean attribute ("AXMain", "AXFocused"). `success` when done.
    virtual AXError setAttribute(const AXElementRef& element, const std::string& name,
                                 bool value) = 0;

    // Performs an action ("AXRaise").
    virtual AXError performAction(const AXElementRef& element, const std::string& action) = 0;

    // The processes whose applications are on the interface now; nullopt when it cannot be
    // asked (not trusted, not reachable).
    virtual std::optional<std::vector<pid_t>> registeredProcesses() = 0;

    // Whether the program of this process speaks the interface at all, so that it would be
    // on it had it started after trust was granted (restarting it helps).
    virtual bool speaksAccessibility(pid_t pid) const = 0;

    // The deepest element of `application` at `point` (global top-left space, single
    // precision as the platform takes it). The value is an element on success.
    virtual AXResult elementAtPosition(const AXElementRef& application, float x, float y) = 0;
};

} // namespace orvane
