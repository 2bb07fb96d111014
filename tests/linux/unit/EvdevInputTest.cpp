// The input devices as a source of the guards' input: the events made from the kernel's
// records, the capability masks and the permission check, and switching the platform's monitor
// over to the devices and back.

#include "backends/linux/CombinedInputMonitor.hpp"
#include "backends/linux/evdev/EvdevAccess.hpp"
#include "backends/linux/evdev/EvdevDeviceKind.hpp"
#include "backends/linux/evdev/EvdevEvents.hpp"
#include "backends/linux/evdev/EvdevInputOption.hpp"
#include "backends/linux/freedesktop/EvdevKeys.hpp"
#include "backends/sim/SimInputMonitor.hpp"
#include "orvane/platform/WindowServer.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace orvane::linuxbackend {
namespace {

constexpr int keyboard = 1;
constexpr int mouse = 2;

input_event record(std::uint16_t type, std::uint16_t code, std::int32_t value, double at = 0) {
    input_event event{};
    event.input_event_sec = static_cast<decltype(event.input_event_sec)>(at);
    event.input_event_usec =
        static_cast<decltype(event.input_event_usec)>((at - double(event.input_event_sec)) * 1e6);
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

// Feeds `records` of `device`, each frame ended by SYN_REPORT at `at`, and collects the events.
struct Feeder {
    EvdevEvents events;
    std::vector<InputEvent> made;

    void frame(int device, std::vector<input_event> records, double at = 0) {
        records.push_back(record(EV_SYN, SYN_REPORT, 0, at));
        for (auto& one : records) {
            one.input_event_sec = record(0, 0, 0, at).input_event_sec;
            one.input_event_usec = record(0, 0, 0, at).input_event_usec;
            for (const auto& event : events.feed(device, one)) {
                made.push_back(event);
            }
        }
    }
    void key(int device, std::uint16_t code, std::int32_t value, double at = 0) {
        frame(device, {record(EV_KEY, code, value)}, at);
    }
    std::vector<InputEvent> take() { return std::exchange(made, {}); }
};

bool same(const InputEvent& a, const InputEvent& b) {
    return a.type == b.type && a.modifierFlags == b.modifierFlags && a.key == b.key;
}

#define EXPECT_EVENTS(actual, ...)                                                                 \
    do {                                                                                           \
        const std::vector<InputEvent> expected{__VA_ARGS__};                                       \
        const auto got = (actual);                                                                 \
        ASSERT_EQ(got.size(), expected.size());                                                    \
        for (std::size_t i = 0; i < got.size(); ++i) {                                             \
            EXPECT_TRUE(same(got[i], expected[i]))                                                 \
                << "event " << i << ": type " << got[i].type << " flags " << std::hex              \
                << got[i].modifierFlags << " key " << std::dec << static_cast<int>(got[i].key);    \
        }                                                                                          \
    } while (false)

using namespace InputEventType;
constexpr auto control = ModifierFlag::control;
constexpr auto shift = ModifierFlag::shift;
constexpr auto command = ModifierFlag::command;

TEST(EvdevEvents, KeysCarryTheModifiersHeldOnEveryKeyboard) {
    Feeder feed;
    feed.key(keyboard, KEY_LEFTCTRL, 1);
    feed.key(keyboard, KEY_C, 1);
    feed.key(keyboard, KEY_C, 0);
    feed.key(keyboard, KEY_LEFTCTRL, 0);
    EXPECT_EVENTS(feed.take(), {flagsChanged, control}, {keyDown, control, Key::c},
                  {flagsChanged, 0});

    // Shift held on one keyboard, Super on another: both hold until each is let go; one side's
    // Shift released leaves the other's held.
    feed.key(keyboard, KEY_LEFTSHIFT, 1);
    feed.key(mouse, KEY_RIGHTSHIFT, 1);
    feed.key(3, KEY_LEFTMETA, 1);
    feed.key(keyboard, KEY_X, 1);
    feed.key(keyboard, KEY_LEFTSHIFT, 0);
    feed.key(3, KEY_LEFTMETA, 0);
    feed.key(mouse, KEY_RIGHTSHIFT, 0);
    EXPECT_EVENTS(feed.take(), {flagsChanged, shift}, {flagsChanged, shift | command},
                  {keyDown, shift | command, Key::x}, {flagsChanged, shift}, {flagsChanged, 0});
}

TEST(EvdevEvents, RepeatsTypeAgainButModifiersNeverRepeat) {
    Feeder feed;
    feed.key(keyboard, KEY_RIGHTCTRL, 1);
    feed.key(keyboard, KEY_RIGHTCTRL, 2);
    feed.key(keyboard, KEY_G, 1);
    feed.key(keyboard, KEY_G, 2);
    feed.key(keyboard, KEY_G, 0);
    feed.key(keyboard, KEY_RIGHTCTRL, 0);
    EXPECT_EVENTS(feed.take(), {flagsChanged, control}, {keyDown, control, Key::g},
                  {keyDown, control, Key::g}, {flagsChanged, 0});
    // Caps Lock is the LED the compositor sets, on every keyboard at once; keys with no
    // system number (a media key) make nothing.
    feed.key(keyboard, KEY_CAPSLOCK, 1);
    feed.frame(keyboard, {record(EV_LED, LED_CAPSL, 1)});
    feed.frame(mouse, {record(EV_LED, LED_CAPSL, 1)});
    feed.key(keyboard, KEY_CAPSLOCK, 0);
    feed.key(keyboard, KEY_PLAYPAUSE, 1);
    EXPECT_EVENTS(feed.take(), {flagsChanged, ModifierFlag::capsLock});
}

TEST(EvdevEvents, ButtonsClickAndMovesAreThinnedToOnePerInterval) {
    Feeder feed;
    const double step = EvdevEvents::motionIntervalSeconds;
    feed.frame(mouse, {record(EV_REL, REL_X, 3), record(EV_REL, REL_Y, -1)}, 10.0);
    feed.frame(mouse, {record(EV_REL, REL_X, 3)}, 10.0 + step / 4);
    feed.frame(mouse, {record(EV_REL, REL_X, 0)}, 10.0 + step * 2); // no motion at all
    feed.frame(mouse, {record(EV_REL, REL_Y, 2)}, 10.0 + step * 2);
    feed.frame(mouse, {record(EV_REL, REL_WHEEL, -1), record(EV_REL, REL_WHEEL_HI_RES, -120)},
               10.0 + step * 2);
    EXPECT_EVENTS(feed.take(), {mouseMoved, 0}, {mouseMoved, 0}, {scrollWheel, 0});

    feed.key(keyboard, KEY_LEFTCTRL, 1, 11.0);
    feed.frame(mouse, {record(EV_KEY, BTN_LEFT, 1)}, 11.0);
    feed.frame(mouse, {record(EV_REL, REL_X, 5)}, 11.1);
    feed.frame(mouse, {record(EV_KEY, BTN_LEFT, 0), record(EV_KEY, BTN_RIGHT, 1)}, 11.2);
    feed.frame(mouse, {record(EV_REL, REL_Y, 5)}, 11.3);
    feed.frame(mouse, {record(EV_KEY, BTN_RIGHT, 0), record(EV_KEY, BTN_MIDDLE, 1)}, 11.4);
    // A touchpad's finger moves the pointer; touching it is no click.
    feed.frame(4, {record(EV_KEY, BTN_TOUCH, 1), record(EV_ABS, ABS_X, 900)}, 11.5);
    EXPECT_EVENTS(feed.take(), {flagsChanged, control}, {leftMouseDown, control},
                  {leftMouseDragged, control}, {rightMouseDown, control},
                  {rightMouseDragged, control}, {mouseMoved, control});

    // A clock that went back does not stop the moves.
    feed.frame(mouse, {record(EV_REL, REL_X, 1)}, 5.0);
    EXPECT_EVENTS(feed.take(), {mouseMoved, control});
}

TEST(EvdevEvents, LostRecordsAreSkippedAndTheDeviceStateTakesOver) {
    Feeder feed;
    feed.key(keyboard, KEY_LEFTSHIFT, 1);
    EXPECT_EVENTS(feed.take(), {flagsChanged, shift});
    // What follows SYN_DROPPED up to the next report is incomplete: nothing of it counts.
    for (const auto& one : {record(EV_SYN, SYN_DROPPED, 0), record(EV_KEY, KEY_A, 1),
                            record(EV_KEY, KEY_LEFTSHIFT, 0), record(EV_SYN, SYN_REPORT, 0)}) {
        EXPECT_TRUE(feed.events.feed(keyboard, one).empty());
    }
    // The device says Control and D are down now, Shift is not: the release of Shift was lost,
    // D was pressed meanwhile; Control too, but a modifier is told by the flags.
    EXPECT_EVENTS(feed.events.resync(keyboard, {{KEY_LEFTCTRL, KEY_D}, false}, true),
                  {flagsChanged, control}, {keyDown, control, Key::d});
    feed.key(keyboard, KEY_D, 0);
    feed.key(keyboard, KEY_LEFTCTRL, 0);
    EXPECT_EVENTS(feed.take(), {flagsChanged, 0});

    // Opened while Super and a letter are held: Super holds, the letter typed nothing.
    EXPECT_EVENTS(feed.events.resync(mouse, {{KEY_LEFTMETA, KEY_Q, BTN_LEFT}, {}}, false),
                  {flagsChanged, command});
    // Unplugged with them held: released.
    EXPECT_EVENTS(feed.events.forget(mouse), {flagsChanged, 0});
    EXPECT_EQ(feed.events.flags(), 0u);
}

TEST(EvdevDeviceKind, CapabilityMasksTellKeyboardsAndPointers) {
    const auto kindOf = [](const std::string& key, const std::string& rel, const std::string& abs,
                           const std::string& properties = "0") {
        const auto keys = parseCapabilityMask(key);
        const auto relative = parseCapabilityMask(rel);
        const auto absolute = parseCapabilityMask(abs);
        const auto props = parseCapabilityMask(properties);
        const auto bit = [](const std::vector<bool>& bits, unsigned code) {
            return code < bits.size() && bits[code];
        };
        return classifyDevice(
            [&](unsigned type, unsigned code) {
                return type == EV_KEY   ? bit(keys, code)
                       : type == EV_REL ? bit(relative, code)
                       : type == EV_ABS ? bit(absolute, code)
                                        : false;
            },
            [&](unsigned property) { return bit(props, property); });
    };
    // As sysfs shows them for an AT keyboard, a power button, a USB mouse, a touchpad and a
    // touch screen.
    const auto at = kindOf("402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe", "0", "0");
    EXPECT_TRUE(at.keyboard);
    EXPECT_FALSE(at.pointer);
    const auto power = kindOf("10000000000000 0", "0", "0");
    EXPECT_FALSE(power.keyboard || power.pointer);
    const auto usbMouse = kindOf("1f0000 0 0 0 0", "903", "0");
    EXPECT_TRUE(usbMouse.pointer);
    EXPECT_FALSE(usbMouse.keyboard);
    const auto touchpad = kindOf("e520 10000 0 0 0 0", "0", "2608000 3", "5");
    EXPECT_TRUE(touchpad.pointer);
    const auto screen = kindOf("400 0 0 0 0 0", "0", "3273800000000003", "2");
    EXPECT_FALSE(screen.pointer || screen.keyboard);

    // Words are as wide as the kernel's long, the lowest last.
    const auto bits = parseCapabilityMask("1 0");
    ASSERT_EQ(bits.size(), 2 * sizeof(unsigned long) * 8);
    EXPECT_TRUE(bits[sizeof(unsigned long) * 8]);
    EXPECT_TRUE(parseCapabilityMask("12g4").empty());
    EXPECT_TRUE(parseCapabilityMask("").empty());
    EXPECT_TRUE(parseCapabilityMask(std::string(40, 'f')).empty());
}

TEST(EvdevAccess, SaysWhyNoKeyboardCanBeReadAndHowToAllowIt) {
    const InputNodeFacts readableMouse{"/dev/input/event5", false, true, 0, "input"};
    const InputNodeFacts lockedKeyboard{"/dev/input/event3", true, false, EACCES, "input"};
    const InputNodeFacts readableKeyboard{"/dev/input/event4", true, true, 0, "input"};
    const SeatFacts noRule{false, true};
    const SeatFacts atSeat{true, true};

    EXPECT_TRUE(assessInputAccess({lockedKeyboard, readableKeyboard}, noRule).keyboardReadable);

    // Never the input group, which would give every program every key of every seat for good.
    const auto withoutRule = assessInputAccess({readableMouse, lockedKeyboard}, noRule);
    EXPECT_FALSE(withoutRule.keyboardReadable);
    EXPECT_NE(withoutRule.reason.find("70-orvane-input.rules"), std::string::npos);
    EXPECT_EQ(withoutRule.reason.find("usermod"), std::string::npos);
    EXPECT_EQ(withoutRule.reason.find("input group"), std::string::npos);

    EXPECT_NE(assessInputAccess({lockedKeyboard}, atSeat).reason.find("udevadm trigger"),
              std::string::npos);
    EXPECT_NE(assessInputAccess({lockedKeyboard}, {true, false}).reason.find("remote session"),
              std::string::npos);
    // logind could not tell: the rule's own step is the likelier fault.
    EXPECT_NE(assessInputAccess({lockedKeyboard}, {true, std::nullopt}).reason.find("udevadm"),
              std::string::npos);

    auto gone = lockedKeyboard;
    gone.error = ENODEV;
    EXPECT_NE(assessInputAccess({gone}, atSeat).reason.find("cannot be read"), std::string::npos);

    EXPECT_NE(assessInputAccess({readableMouse}, atSeat).reason.find("No keyboard"),
              std::string::npos);
    EXPECT_NE(assessInputAccess({}, atSeat).reason.find("No input devices"), std::string::npos);

    // The rule counts where udev reads it, and not when /etc masks it with an empty file.
    const std::string folder = ::testing::TempDir() + "/orvane-rules";
    const std::string masking = folder + "/etc", packaged = folder + "/usr";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(masking);
    std::filesystem::create_directories(packaged);
    EXPECT_FALSE(seatFacts({masking, packaged}).ruleInstalled);
    std::ofstream(packaged + "/" + inputRuleName) << "TAG+=\"uaccess\"\n";
    EXPECT_TRUE(seatFacts({masking, packaged}).ruleInstalled);
    std::ofstream(masking + "/" + inputRuleName).flush();
    EXPECT_FALSE(seatFacts({masking, packaged}).ruleInstalled);

    // This system's facts read without failing, whatever they are (no /dev/input here).
    const auto here = checkInputAccess();
    EXPECT_EQ(here.keyboardReadable, here.reason.empty());
}

InputEvent keyEvent() {
    return {InputEventType::keyDown, 0, Key::c};
}

// A desktop that shows too little input, as the Wayland ones do.
class ReducedInputMonitor : public sim::SimInputMonitor {
public:
    std::string reducedGuards() const override { return "no clicks here"; }
};

TEST(CombinedInputMonitor, MonitorsMoveToTheReplacementAndBackWithoutReinstalling) {
    auto desktop = std::make_shared<ReducedInputMonitor>();
    auto devices = std::make_shared<sim::SimInputMonitor>();
    CombinedInputMonitor combined(desktop);
    EXPECT_EQ(combined.reducedGuards(), "no clicks here");
    int keys = 0;
    const auto token =
        combined.addGlobalMonitor(eventMask(keyDown), [&keys](const InputEvent&) { ++keys; });
    ASSERT_TRUE(token);
    EXPECT_EQ(desktop->deliver(keyEvent()), 1u);

    ASSERT_TRUE(combined.use(devices));
    EXPECT_TRUE(combined.usesReplacement());
    EXPECT_EQ(combined.reducedGuards(), ""); // the devices show every key and click
    // The desktop keeps one silent watcher, so that its pointer position stays fresh.
    EXPECT_EQ(desktop->masks(), std::vector<std::uint64_t>{eventMask(mouseMoved)});
    EXPECT_EQ(desktop->deliver(keyEvent()), 0u);
    EXPECT_EQ(desktop->deliver({mouseMoved, 0}), 1u);
    EXPECT_EQ(devices->masks(), std::vector<std::uint64_t>{eventMask(keyDown)});
    EXPECT_EQ(devices->deliver(keyEvent()), 1u);
    // Installed now, it goes to the replacement.
    ASSERT_TRUE(combined.addGlobalMonitor(eventMask(flagsChanged), [](const InputEvent&) {}));
    EXPECT_EQ(devices->monitorCount(), 2u);

    // Where the desktop's monitor cannot take them back, they stay where they are.
    desktop->setInstallFails(true);
    EXPECT_FALSE(combined.use(nullptr));
    EXPECT_EQ(devices->monitorCount(), 2u);
    EXPECT_EQ(desktop->monitorCount(), 1u);
    desktop->setInstallFails(false);

    ASSERT_TRUE(combined.use(nullptr));
    EXPECT_EQ(devices->monitorCount(), 0u);
    combined.removeMonitor(*token);
    EXPECT_EQ(desktop->masks(), std::vector<std::uint64_t>{eventMask(flagsChanged)});
    EXPECT_EQ(desktop->deliver(keyEvent()), 0u);
    EXPECT_EQ(keys, 2);
}

class EvdevOption : public testing::Test {
protected:
    EvdevOption() {
        char pattern[] = "/tmp/orvane-evdev-XXXXXX";
        directory = ::mkdtemp(pattern);
        desktop = std::make_shared<sim::SimInputMonitor>();
        combined = std::make_shared<CombinedInputMonitor>(desktop);
    }
    ~EvdevOption() override { ::rmdir(directory.c_str()); }

    EvdevInputOption option(const std::string& devices, InputAccess access) {
        EvdevInputMonitor::Options options;
        options.directory = devices;
        return EvdevInputOption(combined, options, [access] { return access; });
    }

    std::string directory;
    std::shared_ptr<sim::SimInputMonitor> desktop;
    std::shared_ptr<CombinedInputMonitor> combined;
};

TEST_F(EvdevOption, TurnsOnOnlyWhereTheDevicesCanBeReadAndOffAgain) {
    ASSERT_TRUE(combined->addGlobalMonitor(eventMask(keyDown), [](const InputEvent&) {}));
    std::string problem;
    auto refused = option(directory, {false, "You are not in the input group."});
    EXPECT_EQ(refused.readability().reason, "You are not in the input group.");
    EXPECT_FALSE(refused.setEnabled(true, &problem));
    EXPECT_EQ(problem, "You are not in the input group.");
    EXPECT_FALSE(refused.enabled());
    EXPECT_FALSE(combined->usesReplacement());

    auto missing = option(directory + "/gone", {true, {}});
    EXPECT_FALSE(missing.setEnabled(true, &problem));
    EXPECT_NE(problem.find("cannot watch"), std::string::npos) << problem;
    EXPECT_EQ(desktop->monitorCount(), 1u);

    {
        auto allowed = option(directory, {true, {}});
        ASSERT_TRUE(allowed.setEnabled(true, &problem)) << problem;
        EXPECT_TRUE(allowed.enabled());
        EXPECT_TRUE(combined->usesReplacement());
        EXPECT_EQ(desktop->masks(),
                  std::vector<std::uint64_t>{eventMask(InputEventType::mouseMoved)});
        ASSERT_TRUE(allowed.setEnabled(false, nullptr));
        EXPECT_FALSE(combined->usesReplacement());
        EXPECT_EQ(desktop->monitorCount(), 1u);
        ASSERT_TRUE(allowed.setEnabled(true, nullptr));
    }
    // An option that goes while on gives the desktop its monitors back.
    EXPECT_FALSE(combined->usesReplacement());
    EXPECT_EQ(desktop->monitorCount(), 1u);
}

// Every key has one place on the kernel's keyboard, so a key read from a device, an X server or
// a compositor can be pressed again as that same key.
TEST(EvdevKeysTest, EveryKeyHasOnePlaceAndComesBackFromIt) {
    std::set<unsigned int> codes;
    for (int value = static_cast<int>(Key::unknown) + 1; value <= static_cast<int>(Key::eisu);
         ++value) {
        const auto key = static_cast<Key>(value);
        const auto code = EvdevKeys::evdevFromKey(key);
        ASSERT_TRUE(code) << value;
        EXPECT_TRUE(codes.insert(*code).second) << value;
        EXPECT_EQ(EvdevKeys::keyFromEvdev(*code), key) << value;
    }
    EXPECT_FALSE(EvdevKeys::evdevFromKey(Key::unknown));
    EXPECT_FALSE(EvdevKeys::keyFromEvdev(0)); // KEY_RESERVED
}

} // namespace
} // namespace orvane::linuxbackend
