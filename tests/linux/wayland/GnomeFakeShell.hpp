#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace orvane::linuxbackend::test {

// A bus connection served by a thread of its own, so that the backend's blocking calls from
// the test thread are answered. Everything touching the connection or the state of the
// objects served on it runs there, through `run`.
class BusThread {
public:
    explicit BusThread(const std::string& address);
    ~BusThread();
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    bool isConnected() const { return bus_ != nullptr; }
    sd_bus* bus() { return bus_; }
    // Runs `task` on the bus thread and waits for it (flushing what it sent).
    void run(const std::function<void()>& task);

private:
    static int onWake(sd_event_source*, int, std::uint32_t, void* self);

    sd_bus* bus_ = nullptr;
    sd_event* event_ = nullptr;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::vector<std::function<void()>> tasks_;
    std::thread thread_;
};

struct FakeWindow {
    std::uint64_t id;
    std::uint32_t pid;
    std::string app, title, type;
    int frame[4];
    int buffer[4];
    int monitor;
    bool above, minimized;
};

struct FakeMonitor {
    int x, y, width, height;
    std::string connector, name;
    bool primary;
};

// Plays the shell's bridge at net.orvane.Bridge with canned, mutable state. State is read and
// changed through `run`. As the shell's own, its connection owns org.gnome.Shell too; as a
// squatter, it does not.
class FakeBridge {
public:
    // `setup` fills the state before the names are taken.
    FakeBridge(const std::string& address, unsigned version,
               const std::function<void(FakeBridge&)>& setup = {}, bool asShell = true);
    ~FakeBridge();

    bool isReady() const { return ready_; }
    void run(const std::function<void(FakeBridge&)>& task) {
        thread_.run([&] { task(*this); });
    }
    // Bus thread (inside `run`): announcements.
    void emit(const char* member);
    void emitInput(int x, int y, std::uint32_t state, std::uint32_t idle);
    void emitProperty(const char* name);
    void emitActivated(const char* member, std::uint32_t action, const char* id);

    unsigned version;
    std::vector<FakeMonitor> monitors;
    std::vector<FakeWindow> windows;
    std::uint64_t focus = 0;
    int pointer[2] = {10, 20}; // stage; WarpPointer moves it
    bool overview = false;
    std::string modal;
    // ActivateWindow: what it answers, and the focus it leaves (0: the asked window).
    bool activateAnswer = true;
    std::uint64_t focusAfterActivate = 0;
    std::vector<std::string> calls; // "PostKey 65507 1", "WatchInput 66", "Follow", ...
    std::vector<std::tuple<std::string, std::string, int, int>> indicatorItems;

private:
    static int method(sd_bus_message* m, void* self, sd_bus_error* error);
    void appendState(sd_bus_message* m, const char* only) const;

    BusThread thread_;
    sd_bus_slot* slot_ = nullptr;
    bool ready_ = false;
};

// Plays GNOME Shell's own org.gnome.Shell (ShellVersion) and org.gnome.Shell.Extensions.
class FakeShellExtensions {
public:
    FakeShellExtensions(const std::string& address, std::string shellVersion);
    ~FakeShellExtensions();

    bool isReady() const { return ready_; }
    void run(const std::function<void(FakeShellExtensions&)>& task) {
        thread_.run([&] { task(*this); });
    }

    std::string shellVersion;
    // uuid -> (state, error); a uuid not here is not listed.
    std::map<std::string, std::pair<double, std::string>> extensions;
    std::vector<std::string> enabled;

private:
    static int method(sd_bus_message* m, void* self, sd_bus_error* error);
    static int property(sd_bus*, const char*, const char*, const char* name, sd_bus_message* reply,
                        void* self, sd_bus_error*);

    BusThread thread_;
    sd_bus_slot* shellSlot_ = nullptr;
    sd_bus_slot* extensionsSlot_ = nullptr;
    bool ready_ = false;
};

} // namespace orvane::linuxbackend::test
