#include "backends/linux/wayland/client/ForeignToplevels.hpp"

#include <algorithm>

namespace orvane::linuxbackend {

std::string ForeignToplevels::bounded(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    if (text.size() <= maxTextBytes) {
        return std::string(text);
    }
    std::size_t end = maxTextBytes;
    // Never half a character: back off over continuation bytes (10xxxxxx).
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return std::string(text.substr(0, end));
}

std::uint64_t ForeignToplevels::add() {
    if (toplevels_.size() >= maxToplevels) {
        return 0;
    }
    const std::uint64_t id = nextId_++;
    toplevels_.emplace(id, Toplevel{});
    return id;
}

ForeignToplevels::Toplevel* ForeignToplevels::find(std::uint64_t id) {
    auto found = toplevels_.find(id);
    return found == toplevels_.end() ? nullptr : &found->second;
}

void ForeignToplevels::setTitle(std::uint64_t id, std::string_view title) {
    if (auto* toplevel = find(id)) {
        toplevel->next.title = bounded(title);
        toplevel->changed = true;
    }
}

void ForeignToplevels::setApplicationId(std::uint64_t id, std::string_view applicationId) {
    if (auto* toplevel = find(id)) {
        toplevel->next.applicationId = bounded(applicationId);
        toplevel->changed = true;
    }
}

void ForeignToplevels::enterOutput(std::uint64_t id, std::uint64_t output) {
    auto* toplevel = find(id);
    if (!toplevel) {
        return;
    }
    auto& outputs = toplevel->next.outputs;
    if (std::find(outputs.begin(), outputs.end(), output) == outputs.end() &&
        outputs.size() < maxOutputsPerToplevel) {
        outputs.push_back(output);
        toplevel->changed = true;
    }
}

void ForeignToplevels::leaveOutput(std::uint64_t id, std::uint64_t output) {
    if (auto* toplevel = find(id)) {
        auto& outputs = toplevel->next.outputs;
        outputs.erase(std::remove(outputs.begin(), outputs.end(), output), outputs.end());
        toplevel->changed = true;
    }
}

void ForeignToplevels::setState(std::uint64_t id, bool activated, bool minimized) {
    if (auto* toplevel = find(id)) {
        toplevel->next.activated = activated;
        toplevel->next.minimized = minimized;
        toplevel->changed = true;
    }
}

bool ForeignToplevels::done(std::uint64_t id) {
    auto* toplevel = find(id);
    if (!toplevel) {
        return false;
    }
    const std::uint64_t before = focused();
    if (toplevel->next.activated && (!toplevel->current.activated || !toplevel->listed)) {
        toplevel->lastActivation = ++activations_;
    }
    toplevel->current = toplevel->next;
    toplevel->changed = false;
    toplevel->listed = true;
    return focused() != before;
}

bool ForeignToplevels::close(std::uint64_t id) {
    const std::uint64_t before = focused();
    toplevels_.erase(id);
    return before != 0 && before == id;
}

void ForeignToplevels::clear() {
    toplevels_.clear();
}

bool ForeignToplevels::pending(std::uint64_t id) const {
    auto found = toplevels_.find(id);
    return found != toplevels_.end() && found->second.changed;
}

bool ForeignToplevels::activated(std::uint64_t id) const {
    auto found = toplevels_.find(id);
    return found != toplevels_.end() && found->second.listed && found->second.current.activated;
}

std::uint64_t ForeignToplevels::focused() const {
    std::uint64_t best = 0;
    std::uint64_t bestActivation = 0;
    for (const auto& [id, toplevel] : toplevels_) {
        if (toplevel.listed && toplevel.current.activated &&
            (best == 0 || toplevel.lastActivation > bestActivation)) {
            best = id;
            bestActivation = toplevel.lastActivation;
        }
    }
    return best;
}

std::vector<CompositorWindow>
ForeignToplevels::windows(const std::vector<ToplevelOutput>& outputs) const {
    std::vector<std::pair<std::uint64_t, const Toplevel*>> listed;
    for (const auto& [id, toplevel] : toplevels_) {
        if (toplevel.listed) {
            listed.emplace_back(id, &toplevel);
        }
    }
    std::sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) {
        if (a.second->lastActivation != b.second->lastActivation) {
            return a.second->lastActivation > b.second->lastActivation;
        }
        return a.first > b.first;
    });
    std::vector<CompositorWindow> windows;
    windows.reserve(listed.size());
    for (const auto& [id, toplevel] : listed) {
        CompositorWindow window;
        window.id = id;
        window.applicationId = toplevel->current.applicationId;
        window.title = toplevel->current.title;
        window.type = "normal";
        window.minimized = toplevel->current.minimized;
        for (std::uint64_t output : toplevel->current.outputs) {
            auto found = std::find_if(outputs.begin(), outputs.end(),
                                      [output](const auto& o) { return o.key == output; });
            if (found != outputs.end()) {
                window.monitor = int(found - outputs.begin());
                window.frame = found->monitor.stageFrame;
                window.buffer = window.frame;
                break;
            }
        }
        windows.push_back(std::move(window));
    }
    return windows;
}

} // namespace orvane::linuxbackend
