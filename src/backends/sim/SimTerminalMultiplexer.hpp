#pragma once

#include "orvane/platform/TerminalMultiplexer.hpp"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace orvane::sim {

// Multiplexers running in terminals, set up by the test: a layout per terminal process. A
// selected pane becomes the active one, as in the real multiplexer.
class SimTerminalMultiplexer : public TerminalMultiplexer {
public:
    std::optional<MultiplexerLayout> layout(pid_t terminal) override;
    bool selectPane(pid_t terminal, const std::string& paneID) override;

    // Process `terminal` shows `layout` (a multiplexer client in its foreground).
    void setLayout(pid_t terminal, MultiplexerLayout layout);
    // The multiplexer in `terminal` quits: its foreground is a shell again.
    void removeLayout(pid_t terminal) { layouts_.erase(terminal); }
    // Selecting panes in `terminal` fails (the server went away in between).
    void failSelection(pid_t terminal) { failing_.insert(terminal); }

    // Every selection asked for, in order: the terminal and the pane.
    const std::vector<std::pair<pid_t, std::string>>& selections() const { return selections_; }
    int layoutRequests() const { return layoutRequests_; }

private:
    std::map<pid_t, MultiplexerLayout> layouts_;
    std::set<pid_t> failing_;
    std::vector<std::pair<pid_t, std::string>> selections_;
    int layoutRequests_ = 0;
};

} // namespace orvane::sim
