#pragma once

#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <utility>
#include <vector>

extern char** environ;

namespace orvane::linuxbackend::test {

// Starts `arguments` (the program first, by its path or found on PATH) in this environment;
// -1 when it did not start.
inline pid_t spawn(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// A program the test started, ended (and waited for) with the object.
class Child {
public:
    explicit Child(pid_t started = -1) : pid(started) {}
    ~Child() { end(); }
    Child(Child&& other) noexcept : pid(std::exchange(other.pid, -1)) {}
    Child& operator=(Child&& other) noexcept {
        if (this != &other) {
            end();
            pid = std::exchange(other.pid, -1);
        }
        return *this;
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void end() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }

    pid_t pid = -1;
};

} // namespace orvane::linuxbackend::test
