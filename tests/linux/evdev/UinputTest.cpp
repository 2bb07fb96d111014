// The input device monitor on a real kernel device: a uinput keyboard with a mouse's buttons
// and motion, plugged in while the monitor runs, typed on and unplugged. Skipped (77) where
// the kernel offers no uinput to this process.

#include "backends/linux/evdev/EvdevInputMonitor.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

constexpr auto timeout = 5s;
int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    failures += ok ? 0 : 1;
}

// Waits, up to `timeout`, for `done`; looked at again every few milliseconds.
template <class Condition> bool waitFor(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct Received {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<InputEvent> events;

    void add(const InputEvent& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        arrived.notify_all();
    }
    bool waitForCount(std::size_t count) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, timeout, [&] { return events.size() >= count; });
    }
};

void emit(libevdev_uinput* device, unsigned type, unsigned code, int value) {
    libevdev_uinput_write_event(device, type, code, value);
    libevdev_uinput_write_event(device, EV_SYN, SYN_REPORT, 0);
}

} // namespace

int main() {
    const int uinput = ::open("/dev/uinput", O_RDWR | O_CLOEXEC);
    if (uinput < 0) {
        std::printf("SKIP: /dev/uinput cannot be opened (%s): the kernel offers this process "
                    "no uinput to make a test device with\n",
                    std::strerror(errno));
        return 77;
    }

    Received received;
    linuxbackend::EvdevInputMonitor monitor({});
    const auto token = monitor.addGlobalMonitor(
        eventMask(InputEventType::keyDown) | eventMask(InputEventType::flagsChanged) |
            eventMask(InputEventType::leftMouseDown) | eventMask(InputEventType::mouseMoved),
        [&received](const InputEvent& event) { received.add(event); });
    if (!token) {
        std::printf("FAIL the monitor did not start\n");
        return 1;
    }
    const std::size_t before = monitor.deviceCount();

    libevdev* description = libevdev_new();
    libevdev_set_name(description, "Orvane test keyboard");
    for (unsigned key = KEY_ESC; key <= KEY_SPACE; ++key) {
        libevdev_enable_event_code(description, EV_KEY, key, nullptr);
    }
    libevdev_enable_event_code(description, EV_KEY, KEY_LEFTMETA, nullptr);
    libevdev_enable_event_code(description, EV_KEY, BTN_LEFT, nullptr);
    libevdev_enable_event_code(description, EV_KEY, BTN_RIGHT, nullptr);
    libevdev_enable_event_code(description, EV_REL, REL_X, nullptr);
    libevdev_enable_event_code(description, EV_REL, REL_Y, nullptr);
    libevdev_uinput* device = nullptr;
    const int made = libevdev_uinput_create_from_device(description, uinput, &device);
    libevdev_free(description);
    if (made < 0) {
        std::printf("SKIP: uinput refused a test device (%s)\n", std::strerror(-made));
        return 77;
    }

    // Plugged in while the monitor runs.
    check(waitFor([&] { return monitor.deviceCount() == before + 1; }), "the new device is read");

    // Read, not grabbed: another reader can still take it for itself.
    if (const char* node = libevdev_uinput_get_devnode(device)) {
        const int fd = ::open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        libevdev* other = nullptr;
        if (fd >= 0 && libevdev_new_from_fd(fd, &other) == 0) {
            check(libevdev_grab(other, LIBEVDEV_GRAB) == 0, "the monitor holds no grab");
            libevdev_grab(other, LIBEVDEV_UNGRAB);
            libevdev_free(other);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }

    emit(device, EV_KEY, KEY_LEFTCTRL, 1);
    emit(device, EV_KEY, KEY_C, 1);
    emit(device, EV_KEY, KEY_C, 0);
    emit(device, EV_KEY, KEY_LEFTCTRL, 0);
    emit(device, EV_KEY, BTN_LEFT, 1);
    emit(device, EV_KEY, BTN_LEFT, 0);
    emit(device, EV_REL, REL_X, 10);
    check(received.waitForCount(5), "five events arrive");
    {
        std::lock_guard lock(received.mutex);
        const auto& events = received.events;
        const auto is = [&](std::size_t index, int type, std::uint64_t flags, Key key) {
            return index < events.size() && events[index].type == type &&
                   events[index].modifierFlags == flags && events[index].key == key;
        };
        check(is(0, InputEventType::flagsChanged, ModifierFlag::control, Key::unknown),
              "Control held");
        check(is(1, InputEventType::keyDown, ModifierFlag::control, Key::c), "Control+C");
        check(is(2, InputEventType::flagsChanged, 0, Key::unknown), "Control let go");
        check(is(3, InputEventType::leftMouseDown, 0, Key::unknown), "a click");
        check(is(4, InputEventType::mouseMoved, 0, Key::unknown), "a move");
    }

    // Unplugged with a key held: the device goes, and so does its modifier.
    emit(device, EV_KEY, KEY_LEFTSHIFT, 1);
    check(received.waitForCount(6), "Shift held");
    libevdev_uinput_destroy(device);
    ::close(uinput);
    check(waitFor([&] { return monitor.deviceCount() == before; }), "the unplugged device goes");
    check(received.waitForCount(7), "Shift let go with it");
    {
        std::lock_guard lock(received.mutex);
        check(received.events.size() >= 7 && received.events[6].modifierFlags == 0,
              "nothing held after unplugging");
    }
    monitor.removeMonitor(*token);
    return failures == 0 ? 0 : 1;
}
