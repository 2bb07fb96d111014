#include "backends/linux/LinuxProcessInfo.hpp"

#include "backends/linux/dbus/BusConnection.hpp"
#include "orvane/platform/Platform.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

std::optional<std::string> readLink(const std::string& path) {
    std::array<char, 1024> buffer{};
    ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return std::nullopt;
    }
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

// The kernel marks the link of an executable replaced since it started (a rebuild, an
// upgrade); the file that now stands at that path is the one to start again.
constexpr std::string_view replacedMark = " (deleted)";

} // namespace

std::string LinuxProcessInfo::applicationId() const {
    return kApplicationIdentifier;
}

std::string LinuxProcessInfo::ownExecutablePath() const {
    std::string path = readLink("/proc/self/exe").value_or("");
    if (path.ends_with(replacedMark)) {
        std::string current = path.substr(0, path.size() - replacedMark.size());
        if (::access(current.c_str(), X_OK) == 0) {
            return current;
        }
    }
    return path;
}

pid_t LinuxProcessInfo::processID() const {
    return ::getpid();
}

pid_t LinuxProcessInfo::parentProcessID() const {
    return ::getppid();
}

std::optional<std::string> LinuxProcessInfo::executablePath(pid_t pid) const {
    if (pid <= 0) {
        return std::nullopt;
    }
    return readLink("/proc/" + std::to_string(pid) + "/exe");
}

std::optional<pid_t> LinuxProcessInfo::instanceNameOwner() const {
    sd_bus* bus = nullptr;
    if (openBus(BusKind::session, &bus) < 0) {
        return std::nullopt;
    }
    // A bus that does not answer must not hold up the report that asks.
    sd_bus_set_method_call_timeout(bus, 500'000);
    sd_bus_message* reply = nullptr;
    std::uint32_t pid = 0;
    const int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "GetConnectionUnixProcessID", nullptr,
                                     &reply, "s", kApplicationIdentifier);
    const bool read = r >= 0 && sd_bus_message_read(reply, "u", &pid) > 0;
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    if (!read || pid == 0) {
        return std::nullopt;
    }
    return static_cast<pid_t>(pid);
}

bool LinuxProcessInfo::spawnDetached(const std::vector<std::string>& argv, std::string* failure) {
    const auto fail = [failure](std::string reason) {
        if (failure) {
            *failure = std::move(reason);
        }
        return false;
    };
    if (argv.empty()) {
        return fail("nothing to start");
    }
    // Everything the children need is prepared before fork: after it only async-signal-safe
    // calls are allowed.
    std::vector<char*> arguments;
    for (const auto& argument : argv) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0) {
        return fail(std::strerror(errno));
    }
    // The program starts with no signal blocked, whatever this thread blocks (the application
    // blocks SIGINT and SIGTERM to read them from a descriptor).
    sigset_t unblocked;
    sigemptyset(&unblocked);
    pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(status[0]);
        ::close(status[1]);
        return fail(std::strerror(error));
    }
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::sigprocmask(SIG_SETMASK, &unblocked, nullptr);
            ::execvp(arguments[0], arguments.data());
            int error = errno;
            [[maybe_unused]] auto written = ::write(status[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(status[1]);
    int childStatus = 0;
    while (::waitpid(child, &childStatus, 0) < 0 && errno == EINTR) {
    }
    // The write end closes on a successful exec; an errno arrives when exec failed.
    int execError = 0;
    ssize_t got;
    do {
        got = ::read(status[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    ::close(status[0]);
    if (got > 0) {
        return fail(argv[0] + ": " + std::strerror(execError));
    }
    if (!WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0 || got < 0) {
        return fail("could not start a process for " + argv[0]);
    }
    return true;
}

std::optional<double> startTicksFromStat(std::string_view stat) {
    // Fields are counted after the command name's last ')': field 22, the start time, is the
    // 20th after it.
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = stat.substr(close + 1);
    std::string_view field;
    for (int i = 0; i < 20; ++i) {
        const auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(start);
        field = rest.substr(0, rest.find_first_of(" \n"));
        rest.remove_prefix(field.size());
    }
    if (field.empty() || field.size() > 20 ||
        field.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    double ticks = 0;
    for (const char digit : field) {
        ticks = ticks * 10 + (digit - '0');
    }
    return ticks;
}

std::optional<double> secondsSinceProcessStart() {
    const int file = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return std::nullopt;
    }
    std::array<char, 1024> buffer{};
    const ssize_t length = ::read(file, buffer.data(), buffer.size());
    ::close(file);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    timespec now{};
    if (length <= 0 || ticksPerSecond <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0) {
        return std::nullopt;
    }
    const auto started =
        startTicksFromStat(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
    if (!started) {
        return std::nullopt;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9 -
           *started / static_cast<double>(ticksPerSecond);
}

} // namespace orvane::linuxbackend
