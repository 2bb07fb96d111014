#include "backends/sim/SimAccessibility.hpp"

#include <algorithm>
#include <utility>

namespace orvane::sim {
namespace {

class SimElement : public AXElement {
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

AXElementRef SimAccessibility::makeRef(pid_t pid, ElementID id) const {
    return std::make_shared<SimElement>(pid, id);
}

std::optional<AXError> SimAccessibility::refusal(const AXElementRef& element, ElementID& id) const {
    if (!trusted_) {
        return AXError::apiDisabled;
    }
    const auto* sim = dynamic_cast<const SimElement*>(element.get());
    if (sim == nullptr) {
        return AXError::invalidElement;
    }
    id = sim->id;
    if (id == 0) {
        // The process may have become an application since the element was made.
        auto app = applications_.find(sim->pid);
        if (app == applications_.end()) {
            return AXError::cannotComplete;
        }
        id = app->second.element;
    }
    auto node = nodes_.find(id);
    if (node == nodes_.end()) {
        return AXError::invalidElement;
    }
    auto app = applications_.find(node->second.pid);
    if (app != applications_.end() && app->second.error) {
        return app->second.error;
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

AXElementRef SimAccessibility::applicationElement(pid_t pid) {
    std::lock_guard lock(mutex_);
    ++calls_;
    auto app = applications_.find(pid);
    return makeRef(pid, app == applications_.end() ? 0 : app->second.element);
}

AXResult SimAccessibility::copyAttribute(const AXElementRef& element, const std::string& name) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    if (auto error = refusal(element, id)) {
        return {*error, {}};
    }
    if (auto found = attributeResults_.find({id, name}); found != attributeResults_.end()) {
        return found->second;
    }
    const Node& node = nodes_.at(id);
    const Application& app = applications_.at(node.pid);
    const bool isApplication = app.element == id;
    if (name == AXAttribute::role) {
        return {AXError::success, node.role};
    }
    if (name == AXAttribute::parent) {
        if (node.parent == 0) {
            return {AXError::noValue, {}};
        }
        return {AXError::success, makeRef(node.pid, node.parent)};
    }
    if (name == AXAttribute::windows || name == "AXChildren") {
        if (name == AXAttribute::windows && !isApplication) {
            return {AXError::attributeUnsupported, {}};
        }
        std::vector<AXElementRef> list;
        for (ElementID child : isApplication ? app.windows : node.children) {
            list.push_back(makeRef(node.pid, child));
        }
        return {AXError::success, std::move(list)};
    }
    if (name == AXAttribute::position || name == AXAttribute::size) {
        if (!node.frame) {
            return {AXError::noValue, {}};
        }
        if (name == AXAttribute::position) {
            return {AXError::success, plinth::Point{node.frame->x, node.frame->y}};
        }
        return {AXError::success, AXSize{node.frame->width, node.frame->height}};
    }
    if (name == AXAttribute::focused) {
        return {AXError::success, app.focused == id};
    }
    if (name == AXAttribute::main) {
        return {AXError::success, app.main == id};
    }
    return {AXError::attributeUnsupported, {}};
}

AXError SimAccessibility::setAttribute(const AXElementRef& element, const std::string& name,
                                       bool value) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    AXError answer = AXError::success;
    if (auto error = refusal(element, id)) {
        answer = *error;
    } else if (auto found = setFailures_.find({id, name}); found != setFailures_.end()) {
        answer = found->second;
    } else if (name == AXAttribute::focused || name == AXAttribute::main) {
        Application& app = applications_.at(nodes_.at(id).pid);
        auto& slot = name == AXAttribute::focused ? app.focused : app.main;
        if (value) {
            slot = id;
        } else if (slot == id) {
            slot.reset();
        }
    } else {
        answer = AXError::attributeUnsupported;
    }
    requests_.push_back({id, name, value, answer});
    return answer;
}

AXError SimAccessibility::performAction(const AXElementRef& element, const std::string& action) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    AXError answer = AXError::success;
    if (auto error = refusal(element, id)) {
        answer = *error;
    } else if (auto found = actionFailures_.find({id, action}); found != actionFailures_.end()) {
        answer = found->second;
    } else if (action == AXAction::raise) {
        auto& windows = applications_.at(nodes_.at(id).pid).windows;
        auto at = std::find(windows.begin(), windows.end(), id);
        if (at == windows.end()) {
            answer = AXError::actionUnsupported;
        } else {
            std::rotate(windows.begin(), at, at + 1);
        }
    } else {
        answer = AXError::actionUnsupported;
    }
    requests_.push_back({id, action, std::nullopt, answer});
    return answer;
}

AXResult SimAccessibility::elementAtPosition(const AXElementRef& application, float x, float y) {
    std::lock_guard lock(mutex_);
    ++calls_;
    ElementID id = 0;
    if (auto error = refusal(application, id)) {
        return {*error, {}};
    }
    const Node& start = nodes_.at(id);
    const Application& app = applications_.at(start.pid);
    if (app.hitTestError) {
        return {*app.hitTestError, {}};
    }
    const double px = x;
    const double py = y;
    auto holds = [&](ElementID candidate) {
        const auto& frame = nodes_.at(candidate).frame;
        return frame && contains(*frame, px, py);
    };
    ElementID hit = 0;
    if (app.element == id) {
        auto window = std::find_if(app.windows.begin(), app.windows.end(), holds);
        if (window == app.windows.end()) {
            return {AXError::noValue, {}};
        }
        hit = *window;
    } else if (holds(id)) {
        hit = id;
    } else {
        return {AXError::noValue, {}};
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
    return {AXError::success, makeRef(start.pid, hit)};
}

SimAccessibility::ElementID SimAccessibility::addApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    auto found = applications_.find(pid);
    if (found != applications_.end()) {
        return found->second.element;
    }
    const ElementID id = nextID_++;
    nodes_[id] = Node{pid, "AXApplication", std::nullopt, 0, {}};
    applications_[pid].element = id;
    return id;
}

SimAccessibility::ElementID SimAccessibility::addWindow(pid_t pid, plinth::Rect frame,
                                                        std::string role) {
    const ElementID application = addApplication(pid);
    std::lock_guard lock(mutex_);
    const ElementID id = nextID_++;
    nodes_[id] = Node{pid, std::move(role), frame, application, {}};
    applications_.at(pid).windows.push_back(id);
    return id;
}

SimAccessibility::ElementID SimAccessibility::addElement(ElementID parent, std::string role,
                                                         std::optional<plinth::Rect> frame) {
    std::lock_guard lock(mutex_);
    auto found = nodes_.find(parent);
    if (found == nodes_.end()) {
        return 0;
    }
    const ElementID id = nextID_++;
    found->second.children.push_back(id);
    nodes_[id] = Node{found->second.pid, std::move(role), frame, parent, {}};
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

void SimAccessibility::setApplicationError(pid_t pid, std::optional<AXError> error) {
    addApplication(pid);
    std::lock_guard lock(mutex_);
    applications_.at(pid).error = error;
}

void SimAccessibility::setHitTestError(pid_t pid, std::optional<AXError> error) {
    addApplication(pid);
    std::lock_guard lock(mutex_);
    applications_.at(pid).hitTestError = error;
}

void SimAccessibility::setAttributeResult(ElementID element, const std::string& name,
                                          AXResult result) {
    std::lock_guard lock(mutex_);
    attributeResults_[{element, name}] = std::move(result);
}

void SimAccessibility::failAttribute(ElementID element, const std::string& name, AXError error) {
    setAttributeResult(element, name, {error, {}});
}

void SimAccessibility::failSetAttribute(ElementID element, const std::string& name, AXError error) {
    std::lock_guard lock(mutex_);
    setFailures_[{element, name}] = error;
}

void SimAccessibility::failAction(ElementID element, const std::string& action, AXError error) {
    std::lock_guard lock(mutex_);
    actionFailures_[{element, action}] = error;
}

std::optional<SimAccessibility::ElementID>
SimAccessibility::idOf(const AXElementRef& element) const {
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
