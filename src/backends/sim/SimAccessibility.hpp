#pragma once

#include "orvane/platform/AccessibilityService.hpp"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
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

    // One request to change something, as the components made it: a boolean attribute set
    // (`value` present) or an action (`value` absent).
    struct Request {
        ElementID element = 0;
        std::string name;
        std::optional<bool> value;
        AXError answer = AXError::success;

        friend bool operator==(const Request&, const Request&) = default;
    };

    bool isProcessTrusted() const override;
    void promptForTrust() override;
    AXElementRef applicationElement(pid_t pid) override;
    AXResult copyAttribute(const AXElementRef& element, const std::string& name) override;
    AXError setAttribute(const AXElementRef& element, const std::string& name, bool value) override;
    AXError performAction(const AXElementRef& element, const std::string& action) override;
    AXResult elementAtPosition(const AXElementRef& application, float x, float y) override;
    // The applications added and not removed; nothing while not trusted.
    std::optional<std::vector<pid_t>> registeredProcesses() override;
    // Every process does unless told otherwise.
    bool speaksAccessibility(pid_t pid) const override;

    // --- Building the trees ----------------------------------------------------------------

    // Makes the process an accessible application (idempotent); returns its element.
    ElementID addApplication(pid_t pid);
    // A window of the application, placed behind its other windows: add them front to back.
    ElementID addWindow(pid_t pid, plinth::Rect frame, std::string role = "AXWindow");
    // A child of `parent`, in front of (after) its earlier children for hit-testing.
    ElementID addElement(ElementID parent, std::string role,
                         std::optional<plinth::Rect> frame = std::nullopt);
    // The element and everything below it go away; stale references answer `invalidElement`.
    void removeElement(ElementID element);
    void removeApplication(pid_t pid);
    // Brings a window to the front of its application's "AXWindows", as "AXRaise" does.
    void bringToFront(ElementID window);
    void setFrame(ElementID element, std::optional<plinth::Rect> frame);
    // A program whose toolkit has no accessibility support (false), or one that has (true).
    void setSpeaksAccessibility(pid_t pid, bool speaks);

    // --- Failures --------------------------------------------------------------------------

    void setTrusted(bool trusted);
    // Every call about this application answers `error` (a hung or refusing process);
    // nullopt restores normal answers.
    void setApplicationError(pid_t pid, std::optional<AXError> error);
    // Hit-tests in this application answer `error`.
    void setHitTestError(pid_t pid, std::optional<AXError> error);
    // Replaces the answer for one attribute of one element: an error, or a value of any shape.
    void setAttributeResult(ElementID element, const std::string& name, AXResult result);
    void failAttribute(ElementID element, const std::string& name, AXError error);
    // Setting this attribute / performing this action on the element answers `error`.
    void failSetAttribute(ElementID element, const std::string& name, AXError error);
    void failAction(ElementID element, const std::string& action, AXError error);

    // --- What happened ---------------------------------------------------------------------

    // The element a reference stands for; nullopt for foreign or unknown references.
    std::optional<ElementID> idOf(const AXElementRef& element) const;
    std::vector<ElementID> windows(pid_t pid) const;
    std::optional<ElementID> focusedElement(pid_t pid) const;
    std::optional<ElementID> mainWindow(pid_t pid) const;
    // Attribute sets and actions, in order, failed ones included.
    std::vector<Request> requests() const;
    // Every call that reached an application (element creation, reads, writes, hit-tests).
    std::size_t callCount() const;
    std::size_t promptCount() const;

private:
    struct Node {
        pid_t pid = 0;
        std::string role;
        std::optional<plinth::Rect> frame;
        ElementID parent = 0;
        std::vector<ElementID> children;
    };
    struct Application {
        ElementID element = 0;
        std::vector<ElementID> windows; // front to back
        std::optional<ElementID> focused;
        std::optional<ElementID> main;
        std::optional<AXError> error;
        std::optional<AXError> hitTestError;
    };
    using Key = std::tuple<ElementID, std::string>;

    // Callers hold mutex_.
    AXElementRef makeRef(pid_t pid, ElementID id) const;
    std::optional<AXError> refusal(const AXElementRef& element, ElementID& id) const;
    void erase(ElementID id);

    mutable std::mutex mutex_;
    bool trusted_ = true;
    ElementID nextID_ = 1;
    std::map<ElementID, Node> nodes_;
    std::map<pid_t, Application> applications_;
    std::map<pid_t, bool> speaks_;
    std::map<Key, AXResult> attributeResults_;
    std::map<Key, AXError> setFailures_;
    std::map<Key, AXError> actionFailures_;
    std::vector<Request> requests_;
    std::size_t calls_ = 0;
    std::size_t prompts_ = 0;
};

} // namespace orvane::sim
