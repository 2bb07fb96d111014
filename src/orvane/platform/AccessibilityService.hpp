#pragma once

#include "plinth/Geometry.hpp"

#include <memory>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace orvane {

// An element of another application's accessibility tree (an application, a window, a text
// area...). Opaque: only the service that made it can use it. Elements are never kept beyond
// the operation that obtained them.
class AccessibleElement {
public:
    virtual ~AccessibleElement() = default;
};
using AccessibleRef = std::shared_ptr<AccessibleElement>;

// What an element is, as far as the system tells elements apart: the panes focus may move to,
// and the containers around them. Every other widget is `other`.
enum class AccessibleRole {
    other,
    application,
    window,
    group,
    textArea, // multi-line text, terminals
    textField,
    webArea,
    scrollArea,
    table,
    outline, // a tree
    list,
};

enum class AccessError {
    failure,        // the application answered with an error
    unsupported,    // the element cannot tell or do this
    noValue,        // nothing there: no parent, no element at the point
    invalidElement, // the element (or its process) is gone
    cannotComplete, // no answer in time, or the application could not be reached
    notTrusted,     // this process may not use the interface
};

// An answer: a value, or the error that stands in its place.
template <typename T> class AccessResult {
public:
    AccessResult(T value) : value_(std::move(value)) {}
    AccessResult(AccessError error) : error_(error) {}

    bool ok() const { return value_.has_value(); }
    std::optional<AccessError> error() const { return error_; }
    // The value, or nothing on error.
    const std::optional<T>& value() const { return value_; }

private:
    std::optional<T> value_;
    std::optional<AccessError> error_;
};

// The answer to a request that gives nothing back but its outcome.
template <> class AccessResult<void> {
public:
    AccessResult() = default;
    AccessResult(AccessError error) : error_(error) {}

    bool ok() const { return !error_; }
    std::optional<AccessError> error() const { return error_; }

private:
    std::optional<AccessError> error_;
};

// The platform's interface to other applications' user interfaces. Every call that takes an
// element may reach another process; a backend bounds each in time and answers
// `cannotComplete` rather than let a hung application freeze the caller. Main thread only.
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
    virtual AccessibleRef applicationElement(pid_t pid) = 0;

    // The application's windows, front to back. `unsupported` for anything but an application.
    virtual AccessResult<std::vector<AccessibleRef>> windows(const AccessibleRef& application) = 0;

    // The element's rectangle in the global top-left space, finite.
    virtual AccessResult<plinth::Rect> frame(const AccessibleRef& element) = 0;

    virtual AccessResult<AccessibleRole> role(const AccessibleRef& element) = 0;

    // The element's container; `noValue` where there is none.
    virtual AccessResult<AccessibleRef> parent(const AccessibleRef& element) = 0;

    // Brings the window in front of its application's other windows.
    virtual AccessResult<void> raise(const AccessibleRef& window) = 0;

    // Makes the window its application's main window, the one activating the application
    // focuses.
    virtual AccessResult<void> makeMain(const AccessibleRef& window) = 0;

    // Gives the element the keyboard focus within its application.
    virtual AccessResult<void> focus(const AccessibleRef& element) = 0;

    // The deepest element of `application` at `point` (global top-left space); `noValue`
    // where none of its windows is.
    virtual AccessResult<AccessibleRef> elementAt(const AccessibleRef& application,
                                                  plinth::Point point) = 0;

    // The processes whose applications are on the interface now; nullopt when it cannot be
    // asked (not trusted, not reachable).
    virtual std::optional<std::vector<pid_t>> registeredProcesses() = 0;

    // Whether the program of this process speaks the interface at all, so that it would be
    // on it had it started after trust was granted (restarting it helps).
    virtual bool speaksAccessibility(pid_t pid) const = 0;
};

} // namespace orvane
