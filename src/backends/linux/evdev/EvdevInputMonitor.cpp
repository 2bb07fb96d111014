#include "backends/linux/evdev/EvdevInputMonitor.hpp"

#include "backends/linux/evdev/EvdevDeviceKind.hpp"
#include "backends/linux/runtime/WorkerWakeUp.hpp"
#include "orvane/platform/Platform.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

bool isEventNode(const std::string& name) {
    return name.rfind("event", 0) == 0 && name.size() > 5;
}

} // namespace

EvdevInputMonitor::EvdevInputMonitor(Options options) : options_(std::move(options)) {}

EvdevInputMonitor::~EvdevInputMonitor() {
    wakeJoinAndClose(worker_, wakeFd_);
    for (auto& [fd, device] : devices_) {
        libevdev_free(device->evdev);
        ::close(fd);
    }
    if (watchFd_ >= 0) {
        ::close(watchFd_);
    }
    if (epollFd_ >= 0) {
        ::close(epollFd_);
    }
}

std::optional<std::string> EvdevInputMonitor::start() {
    std::lock_guard lock(startMutex_);
    if (running_) {
        return std::nullopt;
    }
    if (epollFd_ < 0) {
        epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (epollFd_ < 0) {
            return std::string("cannot wait for input: ") + std::strerror(errno);
        }
    }
    if (watchFd_ < 0) {
        watchFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watchFd_ < 0) {
            return std::string("cannot watch for new input devices: ") + std::strerror(errno);
        }
        // udev makes the node first and gives it its group and rights after: both count.
        if (::inotify_add_watch(watchFd_, options_.directory.c_str(),
                                IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO) < 0) {
            const int error = errno;
            ::close(watchFd_);
            watchFd_ = -1;
            return "cannot watch " + options_.directory + ": " + std::strerror(error);
        }
        epoll_event watch{};
        watch.events = EPOLLIN;
        watch.data.fd = watchFd_;
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, watchFd_, &watch);
    }
    if (auto problem = startWithWakeUp(worker_, wakeFd_, [this] { run(); })) {
        return "cannot start reading input devices: " + *problem;
    }
    running_ = true;
    return std::nullopt;
}

void EvdevInputMonitor::run() {
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wakeFd_;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &wake);
    scan();
    std::array<epoll_event, 16> ready{};
    for (;;) {
        const int count = ::epoll_wait(epollFd_, ready.data(), int(ready.size()), -1);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            logPlatformError(std::string("input devices: waiting failed: ") + std::strerror(errno));
            return;
        }
        for (int index = 0; index < count; ++index) {
            const int fd = ready[std::size_t(index)].data.fd;
            if (fd == wakeFd_) {
                return;
            }
            if (fd == watchFd_) {
                handleWatch();
                continue;
            }
            const auto found = devices_.find(fd);
            if (found == devices_.end()) {
                continue;
            }
            if (ready[std::size_t(index)].events & (EPOLLHUP | EPOLLERR)) {
                closeDevice(fd);
            } else {
                readDevice(*found->second);
            }
        }
    }
}

void EvdevInputMonitor::scan() {
    DIR* directory = ::opendir(options_.directory.c_str());
    if (!directory) {
        return;
    }
    std::vector<std::string> nodes;
    while (const dirent* entry = ::readdir(directory)) {
        if (isEventNode(entry->d_name)) {
            nodes.emplace_back(entry->d_name);
        }
    }
    ::closedir(directory);
    for (const auto& node : nodes) {
        openDevice(node);
    }
}

void EvdevInputMonitor::handleWatch() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = ::read(watchFd_, buffer, sizeof buffer);
        if (length <= 0) {
            return;
        }
        for (ssize_t offset = 0; offset < length;) {
            const auto* change = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + change->len);
            const std::string name = change->len ? change->name : "";
            if (!isEventNode(name)) {
                continue;
            }
            if (change->mask & IN_DELETE) {
                for (const auto& [fd, device] : devices_) {
                    if (device->node == name) {
                        closeDevice(fd);
                        break;
                    }
                }
            } else {
                openDevice(name);
            }
        }
    }
}

void EvdevInputMonitor::openDevice(const std::string& node) {
    for (const auto& [fd, device] : devices_) {
        if (device->node == node) {
            return; // a change of rights to a device already open
        }
    }
    const std::string path = options_.directory + "/" + node;
    // Read-only and never grabbed: the desktop keeps every event.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return; // not ours to read (yet): a change of its rights brings it back here
    }
    libevdev* evdev = nullptr;
    if (libevdev_new_from_fd(fd, &evdev) < 0) {
        ::close(fd);
        return;
    }
    const auto kind = classifyDevice(
        [evdev](unsigned type, unsigned code) {
            return libevdev_has_event_code(evdev, type, code) == 1;
        },
        [evdev](unsigned property) { return libevdev_has_property(evdev, property) == 1; });
    if (!kind.keyboard && !kind.pointer) {
        libevdev_free(evdev);
        ::close(fd);
        return;
    }
    // The move interval is measured on the device's timestamps: none may step with the wall
    // clock.
    libevdev_set_clock_id(evdev, CLOCK_MONOTONIC);
    auto device = std::make_unique<Device>();
    device->id = nextDevice_++;
    device->fd = fd;
    device->evdev = evdev;
    device->node = node;
    epoll_event readable{};
    readable.events = EPOLLIN;
    readable.data.fd = fd;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &readable) < 0) {
        libevdev_free(evdev);
        ::close(fd);
        return;
    }
    Device& opened = *device;
    devices_.emplace(fd, std::move(device));
    deviceCount_.store(devices_.size());
    // Keys held as it is opened were pressed before anyone looked; modifiers among them count.
    EvdevEvents::DeviceState state;
    for (unsigned code = 0; code <= KEY_MAX; ++code) {
        if (libevdev_get_event_value(evdev, EV_KEY, code) > 0) {
            state.keysDown.push_back(static_cast<std::uint16_t>(code));
        }
    }
    if (libevdev_has_event_code(evdev, EV_LED, LED_CAPSL) == 1) {
        state.capsLock = libevdev_get_event_value(evdev, EV_LED, LED_CAPSL) > 0;
    }
    dispatch(events_.resync(opened.id, state, false));
}

void EvdevInputMonitor::closeDevice(int fd) {
    const auto found = devices_.find(fd);
    if (found == devices_.end()) {
        return;
    }
    const int id = found->second->id;
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    libevdev_free(found->second->evdev);
    ::close(fd);
    devices_.erase(found);
    deviceCount_.store(devices_.size());
    dispatch(events_.forget(id));
}

void EvdevInputMonitor::readDevice(Device& device) {
    for (;;) {
        input_event record{};
        int status = libevdev_next_event(device.evdev, LIBEVDEV_READ_FLAG_NORMAL, &record);
        if (status == LIBEVDEV_READ_STATUS_SUCCESS) {
            dispatch(events_.feed(device.id, record));
            continue;
        }
        if (status == LIBEVDEV_READ_STATUS_SYNC) {
            // Records were lost: libevdev brings its copy of the device up to date, which is
            // then the state.
            dispatch(events_.feed(device.id, record));
            do {
                status = libevdev_next_event(device.evdev, LIBEVDEV_READ_FLAG_SYNC, &record);
            } while (status == LIBEVDEV_READ_STATUS_SYNC);
            EvdevEvents::DeviceState state;
            for (unsigned code = 0; code <= KEY_MAX; ++code) {
                if (libevdev_get_event_value(device.evdev, EV_KEY, code) > 0) {
                    state.keysDown.push_back(static_cast<std::uint16_t>(code));
                }
            }
            if (libevdev_has_event_code(device.evdev, EV_LED, LED_CAPSL) == 1) {
                state.capsLock = libevdev_get_event_value(device.evdev, EV_LED, LED_CAPSL) > 0;
            }
            dispatch(events_.resync(device.id, state, true));
            if (status == -EAGAIN) {
                continue;
            }
        }
        if (status == -EAGAIN) {
            return;
        }
        // Unplugged (ENODEV) or unreadable now: let it go; a node made again is opened again.
        closeDevice(device.fd);
        return;
    }
}

void EvdevInputMonitor::dispatch(const std::vector<InputEvent>& events) {
    if (events.empty()) {
        return;
    }
    std::lock_guard lock(monitorsMutex_);
    for (const auto& event : events) {
        const bool keys =
            event.type == InputEventType::keyDown || event.type == InputEventType::flagsChanged;
        if (keys && options_.keysAreOurs && options_.keysAreOurs()) {
            continue;
        }
        // Copy the tokens: a handler may remove monitors (its own or others').
        std::vector<MonitorToken> tokens;
        for (const auto& [token, monitor] : monitors_) {
            if (monitor.mask & eventMask(event.type)) {
                tokens.push_back(token);
            }
        }
        for (const MonitorToken token : tokens) {
            if (const auto found = monitors_.find(token); found != monitors_.end()) {
                auto handler = found->second.handler;
                handler(event);
            }
        }
    }
}

std::optional<MonitorToken>
EvdevInputMonitor::addGlobalMonitor(std::uint64_t mask,
                                    std::function<void(const InputEvent&)> handler) {
    if (!handler) {
        return std::nullopt;
    }
    if (const auto problem = start()) {
        logPlatformError("input devices: " + *problem);
        return std::nullopt;
    }
    std::lock_guard lock(monitorsMutex_);
    const MonitorToken token = nextToken_++;
    monitors_.emplace(token, Monitor{mask, std::move(handler)});
    return token;
}

void EvdevInputMonitor::removeMonitor(MonitorToken token) {
    std::lock_guard lock(monitorsMutex_);
    monitors_.erase(token);
}

} // namespace orvane::linuxbackend
