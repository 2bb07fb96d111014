#include "backends/linux/TmuxPanes.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/DesktopProcesses.hpp"
#include "backends/linux/TmuxReplies.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

// Nothing tmux says about one window comes near this.
constexpr std::size_t maxReply = 64 * 1024;
// The Unix 98 pty slaves' device majors.
constexpr unsigned firstPtsMajor = 136;
constexpr unsigned ptsMajors = 8;

// At most `limit` bytes of a file; nullopt when it cannot be read.
std::optional<std::string> readBounded(const std::string& path, std::size_t limit) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string text(limit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

std::vector<std::string> splitAtNul(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type begin = 0;
    while (begin < text.size()) {
        const auto end = text.find('\0', begin);
        parts.push_back(text.substr(begin, end - begin));
        if (end == std::string::npos) {
            break;
        }
        begin = end + 1;
    }
    return parts;
}

// The pty number of a /proc stat tty_nr; -1 for any other terminal.
int ptyOfDevice(long long device) {
    const auto major = static_cast<unsigned>((device >> 8) & 0xfff);
    const auto minor = static_cast<unsigned>((device & 0xff) | ((device >> 12) & 0xfff00));
    if (major < firstPtsMajor || major >= firstPtsMajor + ptsMajors) {
        return -1;
    }
    return static_cast<int>((major - firstPtsMajor) * 256 + minor);
}

} // namespace

TmuxPanes::TmuxPanes() : TmuxPanes(Options{}) {}

TmuxPanes::TmuxPanes(Options options)
    : options_(std::move(options)),
      terminals_(TerminalEcho::Paths{options_.proc, options_.devPts}) {}

std::optional<MultiplexerLayout> TmuxPanes::layout(pid_t terminal) {
    const auto now = std::chrono::steady_clock::now();
    if (last_ && last_->terminal == terminal && now - last_->when < options_.reuse) {
        return last_->layout;
    }
    Answer answer{terminal, now, clientIn(terminal), std::nullopt};
    if (answer.client) {
        const std::string& socket = answer.client->socket;
        const auto clients = tmux(socket, {"list-clients", "-F", TmuxReplies::clientFormat});
        const auto client =
            clients ? TmuxReplies::clientOf(*clients, answer.client->pid) : std::nullopt;
        const auto panes =
            client
                ? tmux(socket, {"list-panes", "-t", client->window, "-F", TmuxReplies::paneFormat})
                : std::nullopt;
        if (auto parsed = panes ? TmuxReplies::panes(*panes) : std::nullopt) {
            answer.layout = TmuxReplies::layout(*client, std::move(*parsed));
        }
    }
    last_ = std::move(answer);
    return last_->layout;
}

bool TmuxPanes::selectPane(pid_t terminal, const std::string& paneID) {
    if (!last_ || last_->terminal != terminal || !last_->client || !last_->layout) {
        return false;
    }
    const auto& panes = last_->layout->panes;
    if (std::none_of(panes.begin(), panes.end(), [&](const auto& p) { return p.id == paneID; })) {
        return false;
    }
    const std::string socket = last_->client->socket;
    last_.reset(); // the active pane changes
    return tmux(socket, {"select-pane", "-t", paneID}).has_value();
}

std::optional<TmuxPanes::Client> TmuxPanes::clientIn(pid_t terminal) const {
    if (terminal <= 0) {
        return std::nullopt;
    }
    const std::vector<int> ptys = terminals_.ptysOf(terminal);
    if (ptys.empty()) {
        return std::nullopt;
    }
    // The sessions on the terminal's ptys are its children; each names its pty's foreground.
    std::set<pid_t> clients;
    for (const pid_t child : childrenOf(terminal)) {
        if (const auto group = foregroundOf(child, ptys)) {
            if (const auto client = clientInGroup(child, *group)) {
                clients.insert(*client);
            }
        }
    }
    if (clients.size() != 1) {
        return std::nullopt;
    }
    const pid_t client = *clients.begin();
    const std::string process = options_.proc + "/" + std::to_string(client);
    const auto argv = splitAtNul(readBounded(process + "/cmdline", 64 * 1024).value_or(""));
    std::string tmpdir;
    for (const auto& entry :
         splitAtNul(readBounded(process + "/environ", 256 * 1024).value_or(""))) {
        constexpr std::string_view key = "TMUX_TMPDIR=";
        if (entry.starts_with(key)) {
            tmpdir = entry.substr(key.size());
        }
    }
    char cwd[PATH_MAX];
    const ssize_t length = readlink((process + "/cwd").c_str(), cwd, sizeof cwd - 1);
    cwd[std::max<ssize_t>(length, 0)] = '\0';
    for (const auto& candidate : TmuxReplies::socketCandidates(argv, tmpdir, getuid(), cwd)) {
        if (auto socket = usersSocket(candidate)) {
            return Client{client, *socket};
        }
    }
    return std::nullopt;
}

std::vector<pid_t> TmuxPanes::childrenOf(pid_t pid) const {
    std::vector<pid_t> children;
    const std::string base = options_.proc + "/" + std::to_string(pid) + "/task";
    if (DIR* tasks = opendir(base.c_str())) {
        while (const dirent* task = readdir(tasks)) {
            if (task->d_name[0] == '.') {
                continue;
            }
            std::istringstream listed(
                readBounded(base + "/" + task->d_name + "/children", 64 * 1024).value_or(""));
            pid_t child = 0;
            while (listed >> child) {
                children.push_back(child);
            }
        }
        closedir(tasks);
    }
    return children;
}

std::optional<pid_t> TmuxPanes::clientInGroup(pid_t session, pid_t group) const {
    if (isUsersTmuxClient(group)) {
        return group;
    }
    // A shell without job control (`sh -c tmux`) leaves tmux in its own group: the client is a
    // member of the foreground group, found among the session's descendants. Bounded: a session
    // may run anything.
    constexpr std::size_t maxVisited = 256;
    std::deque<pid_t> queue{session};
    std::set<pid_t> visited;
    while (!queue.empty() && visited.size() < maxVisited) {
        const pid_t pid = queue.front();
        queue.pop_front();
        if (!visited.insert(pid).second) {
            continue;
        }
        const auto stat = statOf(pid);
        if (pid != group && stat && stat->group == group && isUsersTmuxClient(pid)) {
            return pid;
        }
        for (const pid_t child : childrenOf(pid)) {
            queue.push_back(child);
        }
    }
    return std::nullopt;
}

std::optional<TmuxPanes::Stat> TmuxPanes::statOf(pid_t pid) const {
    const auto line = readBounded(options_.proc + "/" + std::to_string(pid) + "/stat", 4096);
    // The command name may hold anything, spaces and parentheses included: it ends at the last
    // ')'. After it: state, parent, group, session, terminal device, foreground group.
    const auto close = line ? line->rfind(')') : std::string::npos;
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(line->substr(close + 1));
    std::string state;
    long long parent = 0, group = 0, session = 0, device = 0, foreground = 0;
    if (!(fields >> state >> parent >> group >> session >> device >> foreground) || group <= 0 ||
        group > INT_MAX) {
        return std::nullopt;
    }
    const auto pidOrZero = [](long long value) {
        return value > 0 && value <= INT_MAX ? static_cast<pid_t>(value) : 0;
    };
    return Stat{pidOrZero(group), device, pidOrZero(foreground)};
}

std::optional<pid_t> TmuxPanes::foregroundOf(pid_t child, const std::vector<int>& ptys) const {
    const auto stat = statOf(child);
    if (!stat || stat->foreground == 0 ||
        std::find(ptys.begin(), ptys.end(), ptyOfDevice(stat->device)) == ptys.end()) {
        return std::nullopt;
    }
    return stat->foreground;
}

bool TmuxPanes::isUsersTmuxClient(pid_t pid) const {
    const std::string process = options_.proc + "/" + std::to_string(pid);
    struct stat owner {};
    if (stat(process.c_str(), &owner) != 0 || owner.st_uid != getuid()) {
        return false;
    }
    // tmux names its processes by their role.
    return readBounded(process + "/comm", 64).value_or("") == "tmux: client\n";
}

std::optional<std::string> TmuxPanes::usersSocket(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    const std::string name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return std::nullopt;
    }
    char resolved[PATH_MAX];
    if (!realpath(slash == 0 ? "/" : path.substr(0, slash).c_str(), resolved)) {
        return std::nullopt;
    }
    const uid_t user = getuid();
    struct stat directory {};
    if (lstat(resolved, &directory) != 0 || !S_ISDIR(directory.st_mode) ||
        directory.st_uid != user || (directory.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return std::nullopt;
    }
    const std::string socket = std::string(resolved) + (resolved[1] ? "/" : "") + name;
    struct stat entry {};
    if (lstat(socket.c_str(), &entry) != 0 || !S_ISSOCK(entry.st_mode) || entry.st_uid != user) {
        return std::nullopt;
    }
    return socket;
}

std::optional<std::string> TmuxPanes::tmux(const std::string& socket,
                                           std::vector<std::string> command) {
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(quietUntil_, [&](const auto& entry) { return entry.second <= now; });
    if (quietUntil_.contains(socket)) {
        return std::nullopt;
    }
    command.insert(command.begin(), {options_.program, "-S", socket});
    auto run = DesktopProcesses::runBounded(command, options_.timeout, maxReply);
    if (run.timedOut) {
        quietUntil_[socket] = now + options_.quiet;
        logInfo("tmux at " + socket + " did not answer in time; it is left alone for a while");
    }
    return std::move(run.output);
}

} // namespace orvane::linuxbackend
