#include "backends/sim/SimTerminalMultiplexer.hpp"

namespace orvane::sim {

std::optional<MultiplexerLayout> SimTerminalMultiplexer::layout(pid_t terminal) {
    ++layoutRequests_;
    const auto found = layouts_.find(terminal);
    if (found == layouts_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool SimTerminalMultiplexer::selectPane(pid_t terminal, const std::string& paneID) {
    selections_.emplace_back(terminal, paneID);
    const auto found = layouts_.find(terminal);
    if (found == layouts_.end() || failing_.contains(terminal)) {
        return false;
    }
    bool known = false;
    for (auto& pane : found->second.panes) {
        known = known || pane.id == paneID;
    }
    if (known) {
        for (auto& pane : found->second.panes) {
            pane.active = pane.id == paneID;
        }
    }
    return known;
}

void SimTerminalMultiplexer::setLayout(pid_t terminal, MultiplexerLayout layout) {
    layouts_[terminal] = std::move(layout);
}

} // namespace orvane::sim
