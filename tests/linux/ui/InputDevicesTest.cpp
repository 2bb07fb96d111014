// The settings window's "read keyboards and mice directly" box, drawn by Qt on the test
// desktop, over a stand-in for the platform's input devices.

#include "SettingsToggleFixture.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/Prefs.hpp"

namespace orvane {
namespace {

class FakeInputDevices : public InputDeviceAccess {
public:
    Readability readability() const override { return {readable, reason}; }
    bool setEnabled(bool on, std::string* problem) override {
        if (on && (!readable || failure)) {
            *problem = failure ? "the devices went away" : reason;
            return false;
        }
        on_ = on;
        return true;
    }
    bool enabled() const override { return on_; }

    bool readable = false;
    std::string reason = "You are not in the input group.";
    bool failure = false;

private:
    bool on_ = false;
};

class X11Ui_InputDevices : public ui::test::SettingsToggleFixture {
protected:
    X11Ui_InputDevices() : SettingsToggleFixture("inputDevices") {
        platform().inputDevices = devices;
    }

    bool stored() { return Prefs::shared().readInputDevices(); }

    std::shared_ptr<FakeInputDevices> devices = std::make_shared<FakeInputDevices>();
};

TEST_F(X11Ui_InputDevices, OfferedOffAndExplainedOnlyWhereThePlatformHasThem) {
    platform().inputDevices.reset();
    open();
    EXPECT_EQ(box(), nullptr);
    view.reset();

    platform().inputDevices = devices;
    devices->readable = true;
    open();
    ASSERT_NE(box(), nullptr);
    EXPECT_FALSE(box()->isChecked());
    EXPECT_TRUE(box()->isEnabled());
    EXPECT_FALSE(problem()->isVisible());
    const QString caption = view->findChild<QLabel*>("inputDevicesCaption")->text();
    for (const char* words :
         {"every key pressed", "never keeps or records", "turn this off", "udev rule",
          "while you sit at this computer", "/etc/udev/rules.d", "input group is not needed"}) {
        EXPECT_TRUE(caption.contains(words)) << words;
    }
    EXPECT_FALSE(devices->enabled()) << "showing turns nothing on";
}

TEST_F(X11Ui_InputDevices, UnreadableDevicesSayWhyAndTheBoxWorksOnceTheyCanBeRead) {
    open();
    EXPECT_FALSE(box()->isEnabled());
    EXPECT_TRUE(problem()->isVisible());
    EXPECT_EQ(problem()->text(), "Not available: You are not in the input group.");

    // Added to the group and logged in again: the next showing offers it.
    devices->readable = true;
    reopen();
    EXPECT_TRUE(box()->isEnabled());
    EXPECT_FALSE(problem()->isVisible());
    toggle();
    EXPECT_TRUE(devices->enabled());
    EXPECT_TRUE(stored());
    toggle();
    EXPECT_FALSE(devices->enabled());
    EXPECT_FALSE(stored());
}

TEST_F(X11Ui_InputDevices, AFailedStartStaysOffAndWhatIsOnCanAlwaysBeTurnedOff) {
    devices->readable = true;
    devices->failure = true;
    open();
    toggle();
    EXPECT_FALSE(box()->isChecked());
    EXPECT_FALSE(stored());
    EXPECT_EQ(problem()->text(), "Orvane could not read them: the devices went away");

    // On from an earlier session, unreadable since: it says so and still turns off.
    preferences().setBool(PrefKey::readInputDevices, true);
    devices->readable = false;
    devices->failure = false;
    reopen();
    EXPECT_TRUE(box()->isChecked());
    EXPECT_TRUE(box()->isEnabled());
    EXPECT_EQ(problem()->text(),
              "Turned on, but Orvane cannot read them: You are not in the input group.");
    toggle();
    EXPECT_FALSE(stored());
    EXPECT_FALSE(box()->isEnabled());
}

} // namespace
} // namespace orvane
