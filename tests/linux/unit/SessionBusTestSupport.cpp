#include "SessionBusTestSupport.hpp"

#include "backends/sim/ManualMainQueue.hpp"
#include "backends/sim/SimClock.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvane::linuxbackend::test {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds remaining(Clock::time_point deadline) {
    return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                    std::chrono::milliseconds(0));
}

// Reads the daemon's address line from `fd`, waiting at most `timeout` in all.
std::string readAddress(int fd, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string text;
    while (text.find('\n') == std::string::npos) {
        pollfd ready{fd, POLLIN, 0};
        const int r = poll(&ready, 1, static_cast<int>(remaining(deadline).count()));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return {};
        }
        char buffer[256];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return {};
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text.substr(0, text.find('\n'));
}

} // namespace

PrivateBus::PrivateBus() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-bus-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    directory_ = pattern;
    // Like a session bus, but nothing is activated and every client may own any name.
    const auto config = (directory_ / "bus.conf").string();
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                             "Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <listen>unix:dir="
                          << directory_.string()
                          << "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n";
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return;
    }
    const std::string configArgument = "--config-file=" + config;
    const std::string daemonLog = (directory_ / "daemon.log").string();
    const char* argv[] = {"dbus-daemon", configArgument.c_str(), "--nofork", "--nopidfile",
                          "--nosyslog",  "--print-address=3",    nullptr};
    pid_ = fork();
    if (pid_ == 0) {
        // The daemon must not outlive a test that crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        // Its warnings (an fd limit it may not raise) would only clutter the test output.
        const int logFd = open(daemonLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (logFd >= 0) {
            dup2(logFd, STDERR_FILENO);
        }
        if (report[1] == 3) {
            fcntl(3, F_SETFD, 0);
        } else {
            dup2(report[1], 3);
        }
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(report[1]);
    if (pid_ > 0) {
        address_ = readAddress(report[0], busTimeout);
    }
    close(report[0]);
}

PrivateBus::~PrivateBus() {
    stop();
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

void PrivateBus::stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second) {
            setenv(it->first.c_str(), it->second->c_str(), 1);
        } else {
            unsetenv(it->first.c_str());
        }
    }
}

void ScopedEnvironment::set(const char* name, const std::optional<std::string>& value) {
    const char* previous = std::getenv(name);
    saved_.emplace_back(name, previous ? std::optional<std::string>(previous) : std::nullopt);
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

BusClient::BusClient(const std::string& address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) {
        return;
    }
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0) {
        sd_bus_close_unref(bus);
        return;
    }
    bus_ = bus;
}

BusClient::~BusClient() {
    sd_bus_flush_close_unref(bus_);
}

bool BusClient::own(const char* name) {
    return bus_ && sd_bus_request_name(bus_, name, 0) > 0;
}

bool BusClient::emit(const char* path, const char* interface, const char* member) {
    return bus_ && sd_bus_emit_signal(bus_, path, interface, member, nullptr) >= 0 &&
           sd_bus_flush(bus_) >= 0;
}

bool BusClient::emit(const char* path, const char* interface, const char* member, bool value) {
    return bus_ && sd_bus_emit_signal(bus_, path, interface, member, "b", int(value)) >= 0 &&
           sd_bus_flush(bus_) >= 0;
}

bool BusClient::emitText(const char* path, const char* interface, const char* member,
                         const char* text) {
    return bus_ && sd_bus_emit_signal(bus_, path, interface, member, "s", text) >= 0 &&
           sd_bus_flush(bus_) >= 0;
}

bool BusClient::emitSessionProperties(const char* path, std::optional<bool> lockedHint,
                                      bool hintAsText) {
    if (!bus_) {
        return false;
    }
    sd_bus_message* message = nullptr;
    int r = sd_bus_message_new_signal(bus_, &message, path, "org.freedesktop.DBus.Properties",
                                      "PropertiesChanged");
    if (r >= 0) {
        r = sd_bus_message_append(message, "s", FakeLogind::sessionInterface);
    }
    if (r >= 0) {
        r = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{sv}");
    }
    if (r >= 0) {
        r = sd_bus_message_append(message, "{sv}", "IdleHint", "b", 0);
    }
    if (r >= 0 && lockedHint) {
        r = hintAsText
                ? sd_bus_message_append(message, "{sv}", "LockedHint", "s",
                                        *lockedHint ? "true" : "false")
                : sd_bus_message_append(message, "{sv}", "LockedHint", "b", int(*lockedHint));
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(message);
    }
    if (r >= 0) {
        r = sd_bus_message_append(message, "as", 0);
    }
    if (r >= 0) {
        r = sd_bus_send(bus_, message, nullptr);
    }
    sd_bus_message_unref(message);
    return r >= 0 && sd_bus_flush(bus_) >= 0;
}

bool BusClient::sync() {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus.Peer", "Ping", &error, &reply, nullptr);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return r >= 0;
}

bool BusClient::serveUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    if (!bus_) {
        return false;
    }
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r < 0) {
            return false;
        }
        if (r > 0) {
            continue;
        }
        const auto left = remaining(deadline);
        if (left.count() == 0) {
            return false;
        }
        if (sd_bus_wait(bus_, static_cast<std::uint64_t>(left.count()) * 1000) < 0) {
            return false;
        }
    }
    return sd_bus_flush(bus_) >= 0;
}

FakeLogind::FakeLogind(const std::string& address, LoginAnswers answers)
    : client_(address), answers_(std::move(answers)) {
    ready_ = client_.isConnected() &&
             sd_bus_add_object(client_.bus(), nullptr, managerPath, &FakeLogind::onManagerCall,
                               this) >= 0 &&
             client_.own("org.freedesktop.login1");
}

int FakeLogind::onManagerCall(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto& self = *static_cast<FakeLogind*>(userdata);
    bool found = false;
    if (sd_bus_message_is_method_call(message, managerInterface, "GetSessionByPID")) {
        std::uint32_t pid = 0;
        if (sd_bus_message_read(message, "u", &pid) < 0) {
            return -EINVAL;
        }
        self.calls_.push_back("GetSessionByPID " + std::to_string(pid));
        found = self.answers_.byPid;
    } else if (sd_bus_message_is_method_call(message, managerInterface, "GetSession")) {
        const char* id = nullptr;
        if (sd_bus_message_read(message, "s", &id) < 0) {
            return -EINVAL;
        }
        self.calls_.push_back(std::string("GetSession ") + id);
        found = (self.answers_.automatic && std::strcmp(id, "auto") == 0) ||
                (!self.answers_.sessionId.empty() && self.answers_.sessionId == id);
    } else {
        return 0;
    }
    if (!self.answers_.answersAtAll) {
        return 1;
    }
    if (found) {
        return sd_bus_reply_method_return(message, "o", sessionPath);
    }
    return sd_bus_reply_method_errorf(message, "org.freedesktop.login1.NoSuchSession",
                                      "No session for this caller");
}

bool FakeLogind::serveUntilCalls(std::size_t count) {
    return client_.serveUntil([&] { return calls_.size() >= count; });
}

bool FakeLogind::prepareForSleep(bool sleeping) {
    return client_.emit(managerPath, managerInterface, "PrepareForSleep", sleeping);
}

bool FakeLogind::lock(const char* path) {
    return client_.emit(path, sessionInterface, "Lock");
}

bool FakeLogind::unlock(const char* path) {
    return client_.emit(path, sessionInterface, "Unlock");
}

bool FakeLogind::lockedHint(bool locked) {
    return client_.emitSessionProperties(sessionPath, locked);
}

void RecordingLogSink::write(LogLevel level, std::string_view, std::string_view,
                             std::string_view text) {
    {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(level, std::string(text));
    }
    changed_.notify_all();
}

std::vector<std::string> RecordingLogSink::lines(LogLevel level) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& [lineLevel, text] : lines_) {
        if (lineLevel == level) {
            result.push_back(text);
        }
    }
    return result;
}

std::size_t RecordingLogSink::count(LogLevel level, const std::string& text) const {
    const auto all = lines(level);
    return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [&](const auto& line) {
        return line.find(text) != std::string::npos;
    }));
}

bool RecordingLogSink::waitForLine(LogLevel level, const std::string& text,
                                   std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::any_of(lines_.begin(), lines_.end(), [&](const auto& line) {
            return line.first == level && line.second.find(text) != std::string::npos;
        });
    });
}

SignallingMainQueue::SignallingMainQueue()
    : queue_(std::make_unique<sim::ManualMainQueue>(std::make_shared<sim::SimClock>())) {}

SignallingMainQueue::~SignallingMainQueue() = default;

void SignallingMainQueue::post(Task task) {
    queue_->post(std::move(task));
    {
        std::lock_guard lock(mutex_);
        ++posts_;
    }
    posted_.notify_all();
}

TimerHandle SignallingMainQueue::after(double seconds, Task task) {
    return queue_->after(seconds, std::move(task));
}

TimerHandle SignallingMainQueue::repeating(double interval, double tolerance, Task task) {
    return queue_->repeating(interval, tolerance, std::move(task));
}

void SignallingMainQueue::runUntil(double deadline) {
    queue_->runUntil(deadline);
}

void SignallingMainQueue::stop() {
    queue_->stop();
}

void SignallingMainQueue::runPending() {
    queue_->runPending();
}

bool SignallingMainQueue::runTasksUntil(const std::function<bool()>& done,
                                        std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::uint64_t seen = 0;
    while (true) {
        {
            std::lock_guard lock(mutex_);
            seen = posts_;
        }
        queue_->runPending();
        if (done()) {
            return true;
        }
        // Woken by a post, or soon anyway: some changes (a bus name leaving) post nothing.
        std::unique_lock lock(mutex_);
        if (Clock::now() >= deadline) {
            return false;
        }
        posted_.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(20)),
                           [&] { return posts_ != seen; });
    }
}

} // namespace orvane::linuxbackend::test
