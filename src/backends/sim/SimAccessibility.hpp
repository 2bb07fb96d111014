#pragma once

#include "orvane/platform/AccessibilityService.hpp"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

namespace orvane::sim {

// The simulated accessibility interface: per application a tree of elements (application →
// windows → nested elements), each with a role and optionally a frame in the global top-left
// space. Tests build the trees, make any answer fail, and read back what the components asked
// the applications to do. Elements handed out refer to the tree by number, so an element that
// is removed answers `invalidElement` afterwards, like one whose window has closed.
class SimAccessibility : public AccessibilityService {
public:
    using ElementID = std::uint64_t; // 0 is never an element

    // What a component may ask of an element, for making one answer fail.
    enum class Operation { windows, frame, role, parent, raise, makeMain, focus, elementAt };

    // One request to change something (raise, makeMain, focus), as the components made it.
    struct Request {
        ElementID element = 0;
        Operation operation = Operation::raise;
        std::optional<AccessError> answer;

        friend bool operator==(const Request&, const Request&) = default;
    };

    bool isProcessTrusted() const override;
    void promptForTrust() override;
    AccessibleRef applicationElement(pid_t pid) override;
    AccessResult<std::vector<AccessibleRef>> windows(const AccessibleRef& application) override;
    AccessResult<plinth::Rect> frame(const AccessibleRef& element) override;
    AccessResult<AccessibleRole> role(const AccessibleRef& element) override;
    AccessResult<AccessibleRef> parent(const AccessibleRef& element) override;
    AccessResult<void> raise(const AccessibleRef& window) override;
    AccessResult<void> makeMain(const AccessibleRef& window) override;
    AccessResult<void> focus(const AccessibleRef& element) override;
    AccessResult<AccessibleRef> elementAt(const AccessibleRef& application,
                                          plinth::Point point) override;
    // The applications added and not removed; nothing while not trusted.
    std::optional<std::vector<pid_t>> registeredProcesses() override;
    // Every process does unless told otherwise.
    bool speaksAccessibility(pid_t pid) const override;

    // --- Building the trees ----------------------------------------------------------------

    // Makes the process an accessible application (idempotent); returns its element.
    ElementID addApplication(pid_t pid);
    // A window of the application, placed behind its other windows: add them front to back.
    ElementID addWindow(pid_t pid, plinth::Rect frame,
                        AccessibleRole role = AccessibleRole::window);
    // A child of `parent`, in front of (after) its earlier children for hit-testing.
    ElementID addElement(ElementID parent, AccessibleRole role,
                         std::optional<plinth::Rect> frame = std::nullopt);
    // The element and everything below it go away; stale references answer `invalidElement`.
    void removeElement(ElementID element);
    void removeApplication(pid_t pid);
    // Brings a window to the front of its application's windows, as `raise` does.
    void bringToFront(ElementID window);
    void setFrame(ElementID element, std::optional<plinth::Rect> frame);
    // A program whose toolkit has no accessibility support (false), or one that has (true).
    void setSpeaksAccessibility(pid_t pid, bool speaks);

    // --- Failures --------------------------------------------------------------------------

    void setTrusted(bool trusted);
    // Every call about this application answers `error` (a hung or refusing process);
    // nullopt restores normal answers.
    void setApplicationError(pid_t pid, std::optional<AccessError> error);
    // Asking this of the element answers `error`; for `elementAt`, the application's element.
    void fail(ElementID element, Operation operation, AccessError error);

    // --- What happened ---------------------------------------------------------------------

    // The element a reference stands for; nullopt for foreign or unknown references.
    std::optional<ElementID> idOf(const AccessibleRef& element) const;
    std::vector<ElementID> windows(pid_t pid) const;
    std::optional<ElementID> focusedElement(pid_t pid) const;
    std::optional<ElementID> mainWindow(pid_t pid) const;
    // Raises, makeMains and focuses, in order, failed ones included.
    std::vector<Request> requests() const;
    // Every call that reached an application (element creation, reads, writes, hit-tests).
    std::size_t callCount() const;
    std::size_t promptCount() const;

private:
    struct Node {
        pid_t pid = 0;
        AccessibleRole role = AccessibleRole::other;
        std::optional<plinth::Rect> frame;
        ElementID parent = 0;
        std::vector<ElementID> children;
    };
    struct Application {
        ElementID element = 0;
        std::vector<ElementID> windows; // front to back
        std::optional<ElementID> focused;
        std::optional<ElementID> main;
        std::optional<AccessError> error;
    };
    using Key = std::tuple<ElementID, Operation>;

    // Callers hold mutex_.
    AccessibleRef makeRef(pid_t pid, ElementID id) const;
    // Why asking this of the element fails, if it does; else the element's number.
    std::optional<AccessError> refusal(const AccessibleRef& element, Operation operation,
                                       ElementID& id) const;
    AccessResult<void> change(const AccessibleRef& element, Operation operation);
    void erase(ElementID id);

    mutable std::mutex mutex_;
    bool trusted_ = true;
    ElementID nextID_ = 1;
    std::map<ElementID, Node> nodes_;
    std::map<pid_t, Application> applications_;
    std::map<pid_t, bool> speaks_;
    std::map<Key, AccessError> failures_;
    std::vector<Request> requests_;
    std::size_t calls_ = 0;
    std::size_t prompts_ = 0;
};

} // namespace orvane::sim
