#include "backends/linux/DesktopProcesses.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace orvane::linuxbackend::DesktopProcesses {

bool exists(pid_t pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

std::optional<std::string> commandName(pid_t pid) {
    std::ifstream stream("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(stream, name) || name.empty()) {
        return std::nullopt;
    }
    return name;
}

bool openWithUserHandler(const std::string& url) {
    if (url.empty()) {
        return false;
    }
    // Double fork so the opener is neither our child to reap nor tied to our lifetime; a pipe
    // closed on exec tells whether the opener could be started at all.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            const char* argv[] = {"xdg-open", url.c_str(), nullptr};
            execvp(argv[0], const_cast<char* const*>(argv));
            const int error = errno;
            [[maybe_unused]] auto written = write(report[1], &error, sizeof error);
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got = 0;
    while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

} // namespace orvane::linuxbackend::DesktopProcesses
