#pragma once

#include "backends/linux/TerminalEcho.hpp"
#include "orvane/platform/TerminalMultiplexer.hpp"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane::linuxbackend {

// tmux in a terminal's window, asked through tmux's own commands, run as the user with an
// argument vector and a deadline. The client is the foreground process of one of the ptys the
// terminal holds; its server is the one its arguments and environment name, and is talked to
// only when its socket and the socket's directory belong to this user. A server that does not
// answer in time is left alone for a while. Every desktop family's: it needs only the
// terminal's process. Main thread.
class TmuxPanes : public TerminalMultiplexer {
public:
    struct Options {
        std::string proc = "/proc";
        std::string devPts = "/dev/pts";
        std::string program = "tmux";
        // How long one tmux command may take, and how long a server that took longer is left
        // alone.
        std::chrono::milliseconds timeout{300};
        std::chrono::milliseconds quiet{30'000};
        // A layout is asked for again only after this long: the gaze is looked at many times a
        // second.
        std::chrono::milliseconds reuse{400};
    };

    TmuxPanes();
    explicit TmuxPanes(Options options);

    std::optional<MultiplexerLayout> layout(pid_t terminal) override;
    bool selectPane(pid_t terminal, const std::string& paneID) override;

    // A tmux client in the foreground of one of the terminal's ptys, and the socket of its
    // server.
    struct Client {
        pid_t pid = 0;
        std::string socket;
    };
    // The one tmux client in the foreground of the terminal's ptys; nullopt when there is none,
    // or several (which of them the window shows cannot be known).
    std::optional<Client> clientIn(pid_t terminal) const;

    // The socket at `path` with its directory resolved, when it is a socket owned by this user
    // in a directory owned by this user that no one else may write to (a symbolic link in
    // place of the socket itself is not followed); nullopt otherwise.
    static std::optional<std::string> usersSocket(const std::string& path);

private:
    std::optional<std::string> tmux(const std::string& socket, std::vector<std::string> command);
    struct Stat {
        pid_t group = 0;
        long long device = 0; // of the controlling terminal
        pid_t foreground = 0; // its foreground group; 0: none
    };
    std::optional<Stat> statOf(pid_t pid) const;
    std::optional<pid_t> foregroundOf(pid_t child, const std::vector<int>& ptys) const;
    std::optional<pid_t> clientInGroup(pid_t session, pid_t group) const;
    std::vector<pid_t> childrenOf(pid_t pid) const;
    bool isUsersTmuxClient(pid_t pid) const;

    Options options_;
    TerminalEcho terminals_;
    struct Answer {
        pid_t terminal = 0;
        std::chrono::steady_clock::time_point when;
        std::optional<Client> client;
        std::optional<MultiplexerLayout> layout;
    };
    std::optional<Answer> last_;
    std::map<std::string, std::chrono::steady_clock::time_point> quietUntil_;
};

} // namespace orvane::linuxbackend
