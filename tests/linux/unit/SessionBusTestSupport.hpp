#pragma once

#include "orvane/platform/LogSink.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Platform.hpp"

#include <systemd/sd-bus.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace orvane::sim {
class ManualMainQueue;
}

namespace orvane::linuxbackend::test {

using namespace std::chrono_literals;

inline constexpr auto busTimeout = 5s;

// A private dbus-daemon of the test's own, ended (and its socket removed) when the object goes.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon did not start.
    const std::string& address() const { return address_; }
    // Ends the daemon now, as a crash or a restart of the bus would.
    void stop();

private:
    std::filesystem::path directory_;
    pid_t pid_ = -1;
    std::string address_;
};

// Sets environment variables for its lifetime; each goes back to what it was.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    // nullopt unsets the variable.
    void set(const char* name, const std::optional<std::string>& value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A connection of the test's own, used from the test's thread only. Every emission is flushed
// to the bus before the call returns.
class BusClient {
public:
    explicit BusClient(const std::string& address);
    ~BusClient();
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    bool isConnected() const { return bus_ != nullptr; }
    sd_bus* bus() { return bus_; }

    bool own(const char* name);
    bool emit(const char* path, const char* interface, const char* member);
    bool emit(const char* path, const char* interface, const char* member, bool value);
    bool emitText(const char* path, const char* interface, const char* member, const char* text);
    // PropertiesChanged of a login session: IdleHint false, then LockedHint when given (as a
    // boolean, or as text when `hintAsText`, which a well-behaved logind never sends).
    bool emitSessionProperties(const char* path, std::optional<bool> lockedHint,
                               bool hintAsText = false);
    // A round trip to the bus daemon: everything sent before has been routed when it returns.
    bool sync();
    // Dispatches incoming messages until `done` holds; false when `timeout` passes first.
    bool serveUntil(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = busTimeout);

private:
    sd_bus* bus_ = nullptr;
};

// How the fake logind answers the session look-ups.
struct LoginAnswers {
    bool byPid = true;        // GetSessionByPID finds the session
    bool automatic = false;   // GetSession("auto") finds it
    std::string sessionId;    // GetSession(sessionId) finds it, when not empty
    bool answersAtAll = true; // false: calls are taken and never answered
};

// Plays logind: owns its name, answers the session look-ups as told and emits its signals.
class FakeLogind {
public:
    static constexpr const char* managerPath = "/org/freedesktop/login1";
    static constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
    static constexpr const char* sessionPath = "/org/freedesktop/login1/session/c7";
    static constexpr const char* sessionInterface = "org.freedesktop.login1.Session";

    FakeLogind(const std::string& address, LoginAnswers answers);

    // Connected and owning org.freedesktop.login1.
    bool isReady() const { return ready_; }
    BusClient& client() { return client_; }
    // The look-ups received, as "GetSessionByPID 1234" or "GetSession auto".
    const std::vector<std::string>& calls() const { return calls_; }
    bool serveUntilCalls(std::size_t count);

    bool prepareForSleep(bool sleeping);
    bool lock(const char* path = sessionPath);
    bool unlock(const char* path = sessionPath);
    bool lockedHint(bool locked);

private:
    static int onManagerCall(sd_bus_message* message, void* userdata, sd_bus_error* error);

    BusClient client_;
    LoginAnswers answers_;
    std::vector<std::string> calls_;
    bool ready_ = false;
};

// Plays the screen savers: emits ActiveChanged of either interface.
struct ScreenSaver {
    static constexpr const char* freedesktop = "org.freedesktop.ScreenSaver";
    static constexpr const char* gnome = "org.gnome.ScreenSaver";

    static bool activeChanged(BusClient& client, const char* interface, bool active,
                              const char* path = "/org/freedesktop/ScreenSaver") {
        return client.emit(path, interface, "ActiveChanged", active);
    }
};

// Keeps the info and error texts written to it; a waiter is woken by each.
class RecordingLogSink : public LogSink {
public:
    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view text) override;

    std::vector<std::string> lines(LogLevel level) const;
    // How many lines at `level` contain `text`.
    std::size_t count(LogLevel level, const std::string& text) const;
    // Waits until a line at `level` contains `text`.
    bool waitForLine(LogLevel level, const std::string& text,
                     std::chrono::milliseconds timeout = busTimeout);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<LogLevel, std::string>> lines_;
};

// A log sink installed as the platform's for the object's lifetime.
struct LogCapture {
    std::shared_ptr<RecordingLogSink> sink = std::make_shared<RecordingLogSink>();
    PlatformInstallation installation{[this] {
        auto services = std::make_shared<Platform>();
        services->logSink = sink;
        return services;
    }()};
};

// A manual main queue whose posts, from any thread, wake the test thread waiting in `runUntil`.
class SignallingMainQueue : public MainQueue {
public:
    SignallingMainQueue();
    ~SignallingMainQueue() override;

    void post(Task task) override;
    TimerHandle after(double seconds, Task task) override;
    TimerHandle repeating(double interval, double tolerance, Task task) override;
    void runUntil(double deadline) override;
    void stop() override;

    // Runs posted tasks on the calling thread until `done` holds; false when `timeout` passes.
    bool runTasksUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds timeout = busTimeout);
    // Runs what is posted now and returns.
    void runPending();

private:
    std::unique_ptr<sim::ManualMainQueue> queue_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::uint64_t posts_ = 0;
};

} // namespace orvane::linuxbackend::test
