#pragma once

#include "orvane/platform/TerminalMultiplexer.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// What tmux prints and how its client names its server, read defensively: the replies come
// from another program, so a line that is not exactly what was asked for is no answer.
namespace orvane::linuxbackend::TmuxReplies {

// `list-clients -F` for the client's size, its current window and that session's status line.
inline constexpr const char* clientFormat = "#{client_pid} #{client_width} #{client_height} "
                                            "#{window_id} #{window_zoomed_flag} #{status} "
                                            "#{status-position}";
// `list-panes -F` for each pane of a window.
inline constexpr const char* paneFormat =
    "#{pane_id} #{pane_left} #{pane_top} #{pane_width} #{pane_height} #{pane_active}";

// Beyond these a reply is garbage: no terminal is wider or taller, no window has more panes.
inline constexpr int maxCells = 10'000;
inline constexpr std::size_t maxPanes = 256;
inline constexpr std::size_t maxClientLines = 1'024;

// One client as `clientFormat` prints it.
struct Client {
    int columns = 0;
    int rows = 0; // the status lines included
    std::string window;
    bool zoomed = false;
    int statusLines = 0;
    bool statusAtTop = false;
};

// The line of `reply` (to `clientFormat`) about the client with process id `pid`.
std::optional<Client> clientOf(std::string_view reply, pid_t pid);

// The panes in `reply` (to `paneFormat`), rows counted from the window's top.
std::optional<std::vector<MultiplexerPane>> panes(std::string_view reply);

// What `client` shows of `panes`: rows counted from the terminal's top, only the active pane
// of a zoomed window. Nullopt when a pane lies outside the client (a window larger than the
// client is shown in part, and where is not known) or no pane is active.
std::optional<MultiplexerLayout> layout(const Client& client, std::vector<MultiplexerPane> panes);

// Where the server of a tmux client run with `argv` listens, in the order tmux tries: its -S
// path (relative to the client's working directory `cwd`), else the -L label (or "default") in
// `tmuxTmpdir` (its environment's TMUX_TMPDIR, when set) or /tmp, under tmux-UID. Empty when
// the arguments are not a client's.
std::vector<std::string> socketCandidates(const std::vector<std::string>& argv,
                                          const std::string& tmuxTmpdir, uid_t uid,
                                          const std::string& cwd);

// A pane's name as tmux makes them: '%' and a number.
bool isPaneID(std::string_view text);

} // namespace orvane::linuxbackend::TmuxReplies
