#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane {

// One pane of a terminal multiplexer's window, in character cells from the top-left cell of
// the terminal (status lines above the panes included).
struct MultiplexerPane {
    std::string id; // the multiplexer's own name for the pane
    int column = 0;
    int row = 0;
    int columns = 0;
    int rows = 0;
    bool active = false;

    friend bool operator==(const MultiplexerPane&, const MultiplexerPane&) = default;
};

// What a multiplexer client shows in a terminal: the terminal's whole size in cells and the
// panes of the client's current window.
struct MultiplexerLayout {
    int columns = 0;
    int rows = 0;
    std::vector<MultiplexerPane> panes;

    friend bool operator==(const MultiplexerLayout&, const MultiplexerLayout&) = default;
};

// A multiplexer (tmux) running in a terminal emulator's window, reached through its own
// command interface as the user, never by typing into the terminal. Main thread; each call is
// bounded in time, however the multiplexer behaves.
class TerminalMultiplexer {
public:
    virtual ~TerminalMultiplexer() = default;

    // The layout shown in the terminal run by process `terminal`, when the program in that
    // terminal's foreground is a multiplexer client; nullopt when it is not, or when its
    // server could not be asked or gave no sensible answer.
    virtual std::optional<MultiplexerLayout> layout(pid_t terminal) = 0;

    // Makes pane `paneID` of the last layout of `terminal` the active one; false when not done.
    virtual bool selectPane(pid_t terminal, const std::string& paneID) = 0;
};

} // namespace orvane
