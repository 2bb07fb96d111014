#include "backends/linux/TmuxReplies.hpp"

#include <algorithm>
#include <charconv>

namespace orvane::linuxbackend::TmuxReplies {
namespace {

// The fields of one line split at single spaces; nullopt unless there are exactly `count`.
std::optional<std::vector<std::string_view>> fields(std::string_view line, std::size_t count) {
    std::vector<std::string_view> parts;
    for (;;) {
        if (parts.size() == count) {
            return std::nullopt; // more than asked for
        }
        const auto space = line.find(' ');
        parts.push_back(line.substr(0, space));
        if (space == std::string_view::npos) {
            break;
        }
        line.remove_prefix(space + 1);
    }
    if (parts.size() != count) {
        return std::nullopt;
    }
    return parts;
}

// A decimal number of at most nine digits, no sign, no more than `limit`.
std::optional<int> number(std::string_view text, int limit) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value > limit) {
        return std::nullopt;
    }
    return value;
}

bool isName(std::string_view text, char sigil) {
    return text.size() >= 2 && text.front() == sigil && number(text.substr(1), 999'999'999);
}

// Calls `each` with the lines of `reply` (at most `limit` of them) until it returns false;
// false when there were more.
template <typename Each> bool forEachLine(std::string_view reply, std::size_t limit, Each each) {
    std::size_t seen = 0;
    while (!reply.empty()) {
        if (++seen > limit) {
            return false;
        }
        const auto end = reply.find('\n');
        if (!each(reply.substr(0, end))) {
            return true;
        }
        reply.remove_prefix(end == std::string_view::npos ? reply.size() : end + 1);
    }
    return true;
}

std::optional<int> statusLines(std::string_view status) {
    if (status == "off") {
        return 0;
    }
    if (status == "on") {
        return 1;
    }
    return number(status, 5);
}

} // namespace

bool isPaneID(std::string_view text) {
    return isName(text, '%');
}

std::optional<Client> clientOf(std::string_view reply, pid_t pid) {
    std::optional<Client> found;
    forEachLine(reply, maxClientLines, [&](std::string_view line) {
        const auto parts = fields(line, 7);
        if (!parts || number((*parts)[0], 999'999'999) != pid) {
            return true;
        }
        const auto& p = *parts;
        const auto columns = number(p[1], maxCells);
        const auto rows = number(p[2], maxCells);
        const auto zoomed = number(p[4], 1);
        const auto lines = statusLines(p[5]);
        if (columns > 0 && rows > 0 && isName(p[3], '@') && zoomed && lines && *lines < *rows &&
            (p[6] == "top" || p[6] == "bottom")) {
            found = Client{*columns, *rows, std::string(p[3]), *zoomed == 1, *lines, p[6] == "top"};
        }
        return false; // that client's line, sensible or not
    });
    return found;
}

std::optional<std::vector<MultiplexerPane>> panes(std::string_view reply) {
    std::vector<MultiplexerPane> found;
    bool sensible = true;
    const bool complete = forEachLine(reply, maxPanes, [&](std::string_view line) {
        const auto parts = fields(line, 6);
        if (!parts || !isPaneID((*parts)[0])) {
            sensible = false;
            return false;
        }
        const auto& p = *parts;
        const auto column = number(p[1], maxCells);
        const auto row = number(p[2], maxCells);
        const auto columns = number(p[3], maxCells);
        const auto rows = number(p[4], maxCells);
        const auto active = number(p[5], 1);
        if (!column || !row || !(columns > 0) || !(rows > 0) || !active) {
            sensible = false;
            return false;
        }
        found.push_back({std::string(p[0]), *column, *row, *columns, *rows, *active == 1});
        return true;
    });
    if (!complete || !sensible || found.empty()) {
        return std::nullopt;
    }
    return found;
}

std::optional<MultiplexerLayout> layout(const Client& client, std::vector<MultiplexerPane> panes) {
    if (client.zoomed) {
        std::erase_if(panes, [](const MultiplexerPane& pane) { return !pane.active; });
    }
    if (std::count_if(panes.begin(), panes.end(), [](const auto& p) { return p.active; }) != 1) {
        return std::nullopt;
    }
    const int top = client.statusAtTop ? client.statusLines : 0;
    const int paneRows = client.rows - client.statusLines;
    for (auto& pane : panes) {
        if (pane.column + pane.columns > client.columns || pane.row + pane.rows > paneRows) {
            return std::nullopt;
        }
        pane.row += top;
    }
    return MultiplexerLayout{client.columns, client.rows, std::move(panes)};
}

std::vector<std::string> socketCandidates(const std::vector<std::string>& argv,
                                          const std::string& tmuxTmpdir, uid_t uid,
                                          const std::string& cwd) {
    // tmux's own options: those in `valued` take a value, attached or as the next argument.
    constexpr std::string_view flags = "2CDdlNquUvV";
    constexpr std::string_view valued = "cfLST";
    std::optional<std::string> path;
    std::string label = "default";
    for (std::size_t i = 1; i < argv.size(); ++i) {
        const std::string& argument = argv[i];
        if (argument == "--" || argument.size() < 2 || argument[0] != '-') {
            break;
        }
        for (std::size_t j = 1; j < argument.size(); ++j) {
            const char option = argument[j];
            if (flags.find(option) != std::string_view::npos) {
                continue;
            }
            if (valued.find(option) == std::string_view::npos) {
                return {}; // tmux would refuse it
            }
            std::string value = argument.substr(j + 1);
            if (value.empty()) {
                if (++i >= argv.size()) {
                    return {};
                }
                value = argv[i];
            }
            if (option == 'S') {
                path = value;
            } else if (option == 'L') {
                label = value;
            }
            break;
        }
    }
    if (path) {
        if (path->empty() || (path->front() != '/' && cwd.empty())) {
            return {};
        }
        return {path->front() == '/' ? *path : cwd + "/" + *path};
    }
    if (label.empty() || label.find('/') != std::string::npos) {
        return {};
    }
    const std::string leaf = "/tmux-" + std::to_string(uid) + "/" + label;
    std::vector<std::string> candidates;
    if (!tmuxTmpdir.empty()) {
        candidates.push_back(tmuxTmpdir + leaf);
    }
    candidates.push_back("/tmp" + leaf);
    return candidates;
}

} // namespace orvane::linuxbackend::TmuxReplies
