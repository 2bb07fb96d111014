#pragma once

#include "backends/linux/evdev/EvdevEvents.hpp"
#include "orvane/platform/InputMonitor.hpp"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct libevdev;

namespace orvane::linuxbackend {

// Global input monitors from the kernel's input devices, for compositors that show Orvane no
// other program's input. Every keyboard and pointer in /dev/input is opened read-only and never
// grabbed, so the desktop gets every event as before; devices plugged in later (or given to the
// user later by udev) are opened as they come. One worker thread reads them all; handlers are
// called on it, one call at a time.
//
// Key numbers go no further than the events handed to the monitors: nothing here logs them.
class EvdevInputMonitor : public InputMonitor {
public:
    struct Options {
        std::string directory = "/dev/input";
        // Asked on the worker thread before a key or modifier event goes out: true while keys go
        // to this process's own windows, which are no other program's input.
        std::function<bool()> keysAreOurs;
    };

    explicit EvdevInputMonitor(Options options);
    ~EvdevInputMonitor() override;
    EvdevInputMonitor(const EvdevInputMonitor&) = delete;
    EvdevInputMonitor& operator=(const EvdevInputMonitor&) = delete;

    // Starts watching the directory and reading its devices (the first monitor does it too):
    // nullopt once running, else why not.
    std::optional<std::string> start();

    std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;

    // Keyboards and pointers open now.
    std::size_t deviceCount() const { return deviceCount_.load(); }

private:
    struct Device {
        int id = 0;
        int fd = -1;
        libevdev* evdev = nullptr;
        std::string node; // "event3"
    };
    struct Monitor {
        std::uint64_t mask;
        std::function<void(const InputEvent&)> handler;
    };

    void run();
    void scan();
    void openDevice(const std::string& node);
    void closeDevice(int fd);
    void readDevice(Device& device);
    void handleWatch();
    void dispatch(const std::vector<InputEvent>& events);

    const Options options_;
    std::mutex startMutex_;
    std::thread worker_;
    int wakeFd_ = -1;
    int epollFd_ = -1;
    int watchFd_ = -1;
    bool running_ = false;

    // Worker thread.
    std::map<int, std::unique_ptr<Device>> devices_; // by descriptor
    int nextDevice_ = 1;
    EvdevEvents events_;
    std::atomic<std::size_t> deviceCount_{0};

    // Held while a handler runs, so that removing a monitor waits for a call in progress and no
    // call starts afterwards. Recursive: a handler may remove monitors itself.
    std::recursive_mutex monitorsMutex_;
    std::map<MonitorToken, Monitor> monitors_;
    MonitorToken nextToken_ = 1;
};

} // namespace orvane::linuxbackend
