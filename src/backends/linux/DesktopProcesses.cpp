#include "backends/linux/DesktopProcesses.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

BoundedRun runBounded(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                      std::size_t maxBytes) {
    using Clock = std::chrono::steady_clock;
    BoundedRun result;
    if (argv.empty()) {
        return result;
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // Signals as a program started from a shell has them, whatever this process blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> arguments;
    for (const auto& argument : argv) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    pid_t child = -1;
    const int spawned =
        posix_spawnp(&child, arguments[0], &actions, &attributes, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return result;
    }

    const auto deadline = Clock::now() + timeout;
    auto remaining = [&] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    };
    std::string output;
    bool complete = false;
    for (;;) {
        pollfd readable{out[0], POLLIN, 0};
        const int ready = poll(&readable, 1, remaining());
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        char chunk[4096];
        const ssize_t got = read(out[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            complete = got == 0;
            break;
        }
        if (output.size() + static_cast<std::size_t>(got) > maxBytes) {
            break;
        }
        output.append(chunk, static_cast<std::size_t>(got));
    }
    close(out[0]);

    // Its output ended, so it is exiting: give it the rest of the time, then kill it.
    int status = 0;
    pid_t reaped = 0;
    auto reap = [&](int options) {
        while ((reaped = waitpid(child, &status, options)) < 0 && errno == EINTR) {
        }
    };
    if (complete) {
        for (reap(WNOHANG); reaped == 0 && remaining() > 0; reap(WNOHANG)) {
            poll(nullptr, 0, 1);
        }
    }
    if (reaped == 0) {
        result.timedOut = remaining() == 0; // else it printed too much
        kill(child, SIGKILL);
        reap(0);
        return result;
    }
    if (reaped != child || !complete) {
        return result;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        result.output = std::move(output);
    }
    return result;
}

} // namespace orvane::linuxbackend::DesktopProcesses
