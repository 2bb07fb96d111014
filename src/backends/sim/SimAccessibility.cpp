#include "backends/sim/SimAccessibility.hpp"

#include <algorithm>
#include <utility>

namespace orvane::sim {
namespace {

class SimElement : public AccessibleElement {
public:
    SimElement(pid_t pid, SimAccessibility::ElementID id) : pid(pid), id(id) {}
    const pid_t pid;
    // 0: made for a process that was not an accessible application at the time.
    const SimAccessibility::ElementID id;
};

bool contains(const plinth::Rect& rect, double x, double y) {
    return rect.minX() <= x && x < rect.maxX() && rect.minY() <= y && y < rect.maxY();
}

} // namespace

AccessibleRef SimAccessibility::makeRef(pid_t pid, ElementID id) const {
    return std::make_shared<SimElement>(pid, id);
}

std::optional<AccessError> SimAccessibility::refusal(const AccessibleRef& element,
                                                     Operation operation, ElementID& id) const {
    if (!trusted_) {
        return AccessError::notTrusted;
    }
    const auto* sim = dynamic_cast<const SimElement*>(element.get());
    if (sim == nullptr) {
        return AccessError::invalidElement;
    }
    id = sim->id;
    if (id == 0) {
        // The process may have become an application since the element was made; else, as
        // for a process that is not on the interface, there is nothing behind the element.
        auto app = applications_.find(sim->pid);
        if (app == applications_.end()) {
            return AccessError::invalidElement;
        }
        id = app->second.element;
    }
    auto node = nodes_.find(id);
    if (node == nodes_.end()) {
        return AccessError::invalidElement;
    }
    auto app = applications_.find(node->second.pid);
    if (app != applications_.end() && app->second.error) {
        return app->second.error;
    }
    if (auto failure = failures_.find({id, operation}); failure != failures_.end()) {
        return failure->second;
    }
    return std::nullopt;
}

bool SimAccessibility::isProcessTrusted() const {
    std::lock_guard lock(mutex_);
    return trusted_;
}

std::optional<std::vector<pid_t>> SimAccessibility::registeredProcesses() {
    std::lock_guard lock(mutex_);
    ++calls_;
    if (!trusted_) {
        return std::nullopt;
    }
    std::vector<pid_t> pids;
    for (const auto& [pid, application] : applications_) {
        pids.push_back(pid);
    }
    return pids;
}

bool SimAccessibility::speaksAccessibility(pid_t pid) const {
    std::lock_guard lock(mutex_);
    const auto it = speaks_.find(pid);
    return it == speaks_.end() || it->second;
}

void SimAccessibility::setSpeaksAccessibility(pid_t pid, bool speaks) {
    std::lock_guard lock(mutex_);
    speaks_[pid] = speaks;
}

void SimAccessibility::promptForTrust() {
    std::lock_guard lock(mutex_);
    ++prompts_;
}

AccessibleRef SimAccessibility::applicationElement(pid_t pid) {
    std::lock_guard lock(mutex_);
    ++calls_;
    auto app = applications_.find(pid);
    return makeRef(pid, app == applications_.end() ? 0 : app->second.element);
}

AccessResult<std::vector<AccessibleRef>>
SimAccessibility::windows(const AccessibleRef& application) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    if (auto error = refusal(application, Operation::windows, id)) {
        return *error;
    }
    const Application& app = applications_.at(nodes_.at(id).pid);
    if (app.element != id) {
        return AccessError::unsupported;
    }
    std::vector<AccessibleRef> list;
    for (ElementID window : app.windows) {
        list.push_back(makeRef(nodes_.at(id).pid, window));
    }
    return list;
}

AccessResult<plinth::Rect> SimAccessibility::frame(const AccessibleRef& element) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    if (auto error = refusal(element, Operation::frame, id)) {
        return *error;
    }
    const auto& frame = nodes_.at(id).frame;
    if (!frame || !frame->isFinite()) {
        return AccessError::noValue;
    }
    return *frame;
}

AccessResult<AccessibleRole> SimAccessibility::role(const AccessibleRef& element) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    if (auto error = refusal(element, Operation::role, id)) {
        return *error;
    }
    return nodes_.at(id).role;
}

AccessResult<AccessibleRef> SimAccessibility::parent(const AccessibleRef& element) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    if (auto error = refusal(element, Operation::parent, id)) {
        return *error;
    }
    const Node& node = nodes_.at(id);
    if (node.parent == 0) {
        return AccessError::noValue;
    }
    return makeRef(node.pid, node.parent);
}

AccessResult<void> SimAccessibility::change(const AccessibleRef& element, Operation operation) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    std::optional<AccessError> answer = refusal(element, operation, id);
    if (!answer) {
        Application& app = applications_.at(nodes_.at(id).pid);
        auto window = std::find(app.windows.begin(), app.windows.end(), id);
        if (operation == Operation::focus) {
            app.focused = id;
        } else if (window == app.windows.end()) {
            answer = AccessError::unsupported; // only windows are raised or made main
        } else if (operation == Operation::makeMain) {
            app.main = id;
        } else {
            std::rotate(app.windows.begin(), window, window + 1);
        }
    }
    requests_.push_back({id, operation, answer});
    return answer ? AccessResult<void>(*answer) : AccessResult<void>();
}

AccessResult<void> SimAccessibility::raise(const AccessibleRef& window) {
    return change(window, Operation::raise);
}

AccessResult<void> SimAccessibility::makeMain(const AccessibleRef& window) {
    return change(window, Operation::makeMain);
}

AccessResult<void> SimAccessibility::focus(const AccessibleRef& element) {
    return change(element, Operation::focus);
}

AccessResult<AccessibleRef> SimAccessibility::elementAt(const AccessibleRef& application,
                                                        plinth::Point point) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    if (auto error = refusal(application, Operation::elementAt, id)) {
        return *error;
    }
    const Node& start = nodes_.at(id);
    const Application& app = applications_.at(start.pid);
    auto holds = [&](ElementID candidate) {
        const auto& frame = nodes_.at(candidate).frame;
        return frame && contains(*frame, point.x, point.y);
    };
    ElementID hit = 0;
    if (app.element == id) {
        auto window = std::find_if(app.windows.begin(), app.windows.end(), holds);
        if (window == app.windows.end()) {
            return AccessError::noValue;
        }
        hit = *window;
    } else if (holds(id)) {
        hit = id;
    } else {
        return AccessError::noValue;
    }
    // Later children are drawn over earlier ones, so they are tried first.
    for (;;) {
        const auto& children = nodes_.at(hit).children;
        auto child = std::find_if(children.rbegin(), children.rend(), holds);
        if (child == children.rend()) {
            break;
        }
        hit = *child;
    }
    return makeRef(start.pid, hit);
}

SimAccessibility::ElementID SimAccessibility::addApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    auto found = applications_.find(pid);
    if (found != applications_.end()) {
        return found->second.element;
    }
    const ElementID id = nextID_++;
    nodes_[id] = Node{pid, AccessibleRole::application, std::nullopt, 0, {}};
    applications_[pid].element = id;
    return id;
}

SimAccessibility::ElementID SimAccessibility::addWindow(pid_t pid, plinth::Rect frame,
                                                        AccessibleRole role) {
    const ElementID application = addApplication(pid);
    std::lock_guard lock(mutex_);
    const ElementID id = nextID_++;
    nodes_[id] = Node{pid, role, frame, application, {}};
    applications_.at(pid).windows.push_back(id);
    return id;
}

SimAccessibility::ElementID SimAccessibility::addElement(ElementID parent, AccessibleRole role,
                                                         std::optional<plinth::Rect> frame) {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(parent);
    if (found == nodes_.end()) {
        return 0;
    }
    const ElementID id = nextID_++;
    found->second.children.push_back(id);
    nodes_[id] = Node{found->second.pid, role, frame, parent, {}};
    return id;
}

void SimAccessibility::erase(ElementID id) {
    auto found = nodes_.find(id);
    if (found == nodes_.end()) {
        return;
    }
    const Node node = found->second;
    for (ElementID child : node.children) {
        erase(child);
    }
    nodes_.erase(id);
    if (auto parent = nodes_.find(node.parent); parent != nodes_.end()) {
        std::erase(parent->second.children, id);
    }
    if (auto app = applications_.find(node.pid); app != applications_.end()) {
        std::erase(app->second.windows, id);
        if (app->second.focused == id) {
            app->second.focused.reset();
        }
        if (app->second.main == id) {
            app->second.main.reset();
        }
    }
}

void SimAccessibility::removeElement(ElementID element) {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(element);
    if (found == nodes_.end()) {
        return;
    }
    auto app = applications_.find(found->second.pid);
    if (app != applications_.end() && app->second.element == element) {
        return; // applications go with removeApplication
    }
    erase(element);
}

void SimAccessibility::removeApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    auto app = applications_.find(pid);
    if (app == applications_.end()) {
        return;
    }
    for (ElementID window : std::vector<ElementID>(app->second.windows)) {
        erase(window);
    }
    nodes_.erase(app->second.element);
    applications_.erase(app);
}

void SimAccessibility::bringToFront(ElementID window) {
    std::lock_guard lock(mutex_);
    auto node = nodes_.find(window);
    if (node == nodes_.end()) {
        return;
    }
    auto& windows = applications_.at(node->second.pid).windows;
    auto at = std::find(windows.begin(), windows.end(), window);
    if (at != windows.end()) {
        std::rotate(windows.begin(), at, at + 1);
    }
}

void SimAccessibility::setFrame(ElementID element, std::optional<plinth::Rect> frame) {
    std::lock_guard lock(mutex_);
    if (auto node = nodes_.find(element); node != nodes_.end()) {
        node->second.frame = frame;
    }
}

void SimAccessibility::setTrusted(bool trusted) {
    std::lock_guard lock(mutex_);
    trusted_ = trusted;
}

void SimAccessibility::setApplicationError(pid_t pid, std::optional<AccessError> error) {
    addApplication(pid);
    std::lock_guard lock(mutex_);
    applications_.at(pid).error = error;
}

void SimAccessibility::fail(ElementID element, Operation operation, AccessError error) {
    std::lock_guard lock(mutex_);
    failures_[{element, operation}] = error;
}

std::optional<SimAccessibility::ElementID>
SimAccessibility::idOf(const AccessibleRef& element) const {
    std::lock_guard lock(mutex_);
    const auto* sim = dynamic_cast<const SimElement*>(element.get());
    if (sim == nullptr || sim->id == 0 || !nodes_.contains(sim->id)) {
        return std::nullopt;
    }
    return sim->id;
}

std::vector<SimAccessibility::ElementID> SimAccessibility::windows(pid_t pid) const {
    std::lock_guard lock(mutex_);
    auto app = applications_.find(pid);
    return app == applications_.end() ? std::vector<ElementID>{} : app->second.windows;
}

std::optional<SimAccessibility::ElementID> SimAccessibility::focusedElement(pid_t pid) const {
    std::lock_guard lock(mutex_);
    auto app = applications_.find(pid);
    return app == applications_.end() ? std::nullopt : app->second.focused;
}

std::optional<SimAccessibility::ElementID> SimAccessibility::mainWindow(pid_t pid) const {
    std::lock_guard lock(mutex_);
    auto app = applications_.find(pid);
    return app == applications_.end() ? std::nullopt : app->second.main;
}

std::vector<SimAccessibility::Request> SimAccessibility::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t SimAccessibility::callCount() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::size_t SimAccessibility::promptCount() const {
    std::lock_guard lock(mutex_);
    return prompts_;
}

} // namespace orvane::sim
