#include "backends/linux/TerminalEcho.hpp"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <termios.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

// The pty number from a ptmx descriptor's fdinfo; -1 when it names none.
int ttyIndex(const std::string& fdinfoPath) {
    std::ifstream file(fdinfoPath);
    std::string line;
    while (std::getline(file, line)) {
        constexpr std::string_view key = "tty-index:";
        if (line.compare(0, key.size(), key) != 0) {
            continue;
        }
        const char* begin = line.c_str() + key.size();
        char* end = nullptr;
        errno = 0;
        const long index = std::strtol(begin, &end, 10);
        if (end == begin || errno != 0 || index < 0 || index > 1'000'000) {
            return -1;
        }
        return static_cast<int>(index);
    }
    return -1;
}

bool isPtmx(const std::string& target) {
    // /dev/pts/ptmx where a container mounts devpts with a ptmx of its own.
    return target == "/dev/ptmx" || target == "/dev/pts/ptmx";
}

} // namespace

TerminalEcho::TerminalEcho() : TerminalEcho(Paths{"/proc", "/dev/pts"}) {}

TerminalEcho::TerminalEcho(Paths paths) : paths_(std::move(paths)) {}

std::vector<int> TerminalEcho::ptysOf(pid_t pid) const {
    std::vector<int> ptys;
    const std::string base = paths_.proc + "/" + std::to_string(pid);
    DIR* fds = opendir((base + "/fd").c_str());
    if (!fds) {
        return ptys; // gone, or someone else's
    }
    const int dirFd = dirfd(fds);
    while (const dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        char target[64];
        const ssize_t length = readlinkat(dirFd, entry->d_name, target, sizeof target - 1);
        if (length <= 0) {
            continue;
        }
        target[length] = '\0';
        if (!isPtmx(target)) {
            continue;
        }
        const int index = ttyIndex(base + "/fdinfo/" + entry->d_name);
        if (index >= 0) {
            ptys.push_back(index);
        }
    }
    closedir(fds);
    return ptys;
}

bool TerminalEcho::isPasswordMode(int pty) const {
    const std::string path = paths_.devPts + "/" + std::to_string(pty);
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    termios flags{};
    const bool read = tcgetattr(fd, &flags) == 0;
    close(fd);
    return read && (flags.c_lflag & ECHO) == 0 && (flags.c_lflag & ICANON) != 0;
}

bool TerminalEcho::isReadingPassword(std::uint64_t window, pid_t pid) {
    if (pid <= 0) {
        return false;
    }
    if (window != window_ || pid != pid_) {
        window_ = window;
        pid_ = pid;
        isTerminal_ = true; // look now
    } else if (!isTerminal_ && ++sinceLook_ >= recheckEvery) {
        isTerminal_ = true; // a terminal that had not opened its pty yet when it took focus
    }
    if (!isTerminal_) {
        return false;
    }
    const std::vector<int> ptys = ptysOf(pid);
    if (ptys.empty()) {
        isTerminal_ = false;
        sinceLook_ = 0;
        return false;
    }
    // Every tab counts: which one shows is the terminal's secret, and a prompt in a tab behind
    // is still one the user is about to type into.
    for (int pty : ptys) {
        if (isPasswordMode(pty)) {
            return true;
        }
    }
    return false;
}

} // namespace orvane::linuxbackend
