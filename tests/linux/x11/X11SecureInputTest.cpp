#include <gtest/gtest.h>

#include "linux/x11/X11TestSupport.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11SecureInput.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace orvane::linuxbackend::test {
namespace {

// Another client (a password prompt, say) holding the keyboard.
class KeyboardGrabber {
public:
    KeyboardGrabber() : display_(XOpenDisplay(nullptr)) {}
    ~KeyboardGrabber() {
        if (display_) {
            XCloseDisplay(display_);
        }
    }
    bool grab() {
        const int result = XGrabKeyboard(display_, DefaultRootWindow(display_), False,
                                         GrabModeAsync, GrabModeAsync, CurrentTime);
        XSync(display_, False);
        return result == GrabSuccess;
    }
    void release() {
        XUngrabKeyboard(display_, CurrentTime);
        XSync(display_, False);
    }
    ::Display* display() { return display_; }

private:
    ::Display* display_;
};

TEST(X11_secure_input, isOnWhileAnotherClientHoldsTheKeyboard) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    auto& secure = *desktop.desktop().secureInput();
    EXPECT_FALSE(secure.isSecureEventInputEnabled());
    // Asking left the keyboard free: someone else can still take it.
    KeyboardGrabber other;
    ASSERT_TRUE(other.grab());
    EXPECT_TRUE(secure.isSecureEventInputEnabled());
    EXPECT_TRUE(secure.isSecureEventInputEnabled());
    other.release();
    EXPECT_FALSE(secure.isSecureEventInputEnabled());
}

// Asked on every camera frame: the focused window must not see its focus flicker.
TEST(X11_secure_input, askingSendsTheFocusedWindowNoFocusEvents) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    KeyboardGrabber client;
    ::Display* display = client.display();
    // Unmanaged, so it is viewable at once without waiting for the window manager.
    const Window window = createWindow(display, 0, 0, 200, 200, nullptr, true, FocusChangeMask);
    XMapRaised(display, window);
    XSync(display, False);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    XEvent event;
    while (XCheckWindowEvent(display, window, FocusChangeMask, &event)) {
    }

    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(desktop.desktop().secureInput()->isSecureEventInputEnabled());
    }
    // A round trip on the window's own connection after the last question: any focus event the
    // questions caused has arrived by now.
    XSync(display, False);
    int focusEvents = 0;
    while (XCheckWindowEvent(display, window, FocusChangeMask, &event)) {
        ++focusEvents;
    }
    EXPECT_EQ(focusEvents, 0);
}

TEST(X11_secure_input, isOffWhileTheGrabIsAnOpenMenus) {
    REQUIRE_TEST_DESKTOP();
    TestDesktop desktop;
    KeyboardGrabber menuOwner;
    ::Display* display = menuOwner.display();
    const Window menu = createWindow(display, 200, 200, 150, 300, "_NET_WM_WINDOW_TYPE_POPUP_MENU");
    XMapRaised(display, menu);
    ASSERT_TRUE(menuOwner.grab());
    EXPECT_FALSE(desktop.desktop().secureInput()->isSecureEventInputEnabled());
    XUnmapWindow(display, menu);
    XSync(display, False);
    EXPECT_TRUE(desktop.desktop().secureInput()->isSecureEventInputEnabled());
}

} // namespace
} // namespace orvane::linuxbackend::test
