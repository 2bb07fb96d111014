#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

#include "orvane/guards/SystemGuards.hpp"

#include <X11/Xlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orvane::linuxbackend::test {
namespace {

const std::string clients = ORVANE_TEST_CLIENTS_DIR;

// Real programs started for the test: one of our clients (tests/linux/clients), its window
// moved to root (x, y) and active.
RunningClient startProgram(TestDesktop& desktop, const std::vector<std::string>& argv, int x,
                           int y) {
    RunningClient client;
    client.process = std::make_unique<ChildProcess>(argv);
    client.window = desktop.waitForClientWindow(client.pid(), 20s).value_or(0);
    if (client.window) {
        desktop.moveClient(client.window, x, y);
        desktop.desktop().workspace()->activateWindow(client.window);
    }
    return client;
}

bool click(plinth::Point at, int button = 1) {
    return run({"xdotool", "mousemove", std::to_string(static_cast<int>(at.x)),
                std::to_string(static_cast<int>(at.y)), "click", std::to_string(button)});
}

// Whether the window list shows a menu of `pid` at the pop-up-menu level.
bool listsMenuOf(pid_t pid) {
    const auto entries = platform().windowServer->onScreenWindows();
    if (!entries) {
        return false;
    }
    for (const auto& entry : *entries) {
        if (entry.layer.value_or(0) >= platform().windowServer->popUpMenuLevel() &&
            entry.ownerPid == pid) {
            return true;
        }
    }
    return false;
}

class X11_guards_menus : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        desktop = std::make_unique<TestDesktop>();
    }

    // The client area of `window` in root coordinates.
    plinth::Rect clientArea(unsigned long window) {
        return X11WindowList::clientFrameOf(desktop->connection(), window).value_or(plinth::Rect{});
    }

    // Clicks until the menu guard holds (a toolkit may still be settling after its first map).
    bool openMenu(plinth::Point at, int button) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!click(at, button)) {
                return false;
            }
            if (desktop->waiter().until([] { return SystemGuards::isMenuOpen(); }, 3s)) {
                return true;
            }
        }
        return false;
    }

    bool closeMenu() {
        return run({"xdotool", "key", "Escape"}) &&
               desktop->waiter().until([] { return !SystemGuards::isMenuOpen(); });
    }

    std::unique_ptr<TestDesktop> desktop;
};

TEST_F(X11_guards_menus, AGtk3PopoverDrawnInsideItsWindowIsAMenuAndNotSecureInput) {
    auto program = startProgram(*desktop, {"/usr/bin/python3", clients + "/popover-window.py", "3"},
                                1400, 100);
    ASSERT_NE(program.window, 0u);
    const plinth::Rect area = clientArea(program.window);
    EXPECT_FALSE(SystemGuards::isMenuOpen());

    ASSERT_TRUE(openMenu({area.x + area.width / 2, area.y + area.height / 2}, 1));
    // No window shows it: the accessibility tree does.
    EXPECT_TRUE(platform().windowServer->isMenuOpenInsideWindow());
    EXPECT_FALSE(listsMenuOf(program.pid()));
    EXPECT_FALSE(platform().secureInput->isSecureEventInputEnabled());

    ASSERT_TRUE(closeMenu());
    EXPECT_FALSE(platform().windowServer->isMenuOpenInsideWindow());
}

TEST_F(X11_guards_menus, AGtk4PopoverIsAWindowAtTheMenuLevel) {
    auto program = startProgram(*desktop, {"/usr/bin/python3", clients + "/popover-window.py", "4"},
                                1400, 100);
    ASSERT_NE(program.window, 0u);
    const plinth::Rect area = clientArea(program.window);
    EXPECT_FALSE(SystemGuards::isMenuOpen());

    ASSERT_TRUE(openMenu({area.x + area.width / 2, area.y + area.height / 2}, 1));
    // The guard may see the menu first through the accessibility tree; the popover's window
    // reaches the window list once the window manager has taken it in.
    EXPECT_TRUE(desktop->waiter().until([&] { return listsMenuOf(program.pid()); }));
    EXPECT_FALSE(platform().secureInput->isSecureEventInputEnabled());
    ASSERT_TRUE(closeMenu());
}

TEST_F(X11_guards_menus, QtMenuBarDropDownsAndContextMenusAreMenus) {
    auto program =
        startProgram(*desktop, {"/usr/bin/python3", clients + "/qt-menus.py"}, 1400, 100);
    ASSERT_NE(program.window, 0u);
    const plinth::Rect area = clientArea(program.window);
    EXPECT_FALSE(SystemGuards::isMenuOpen());

    {
        SCOPED_TRACE("the File menu of the menu bar");
        ASSERT_TRUE(openMenu({area.x + 20, area.y + 10}, 1));
        EXPECT_TRUE(listsMenuOf(program.pid()));
        EXPECT_FALSE(platform().secureInput->isSecureEventInputEnabled());
        ASSERT_TRUE(closeMenu());
    }
    {
        SCOPED_TRACE("the context menu");
        ASSERT_TRUE(openMenu({area.x + area.width / 2, area.y + area.height / 2}, 3));
        EXPECT_TRUE(listsMenuOf(program.pid()));
        EXPECT_FALSE(platform().secureInput->isSecureEventInputEnabled());
        ASSERT_TRUE(closeMenu());
    }
}

class X11_guards_launchers : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        desktop = std::make_unique<TestDesktop>();
        choices = std::filesystem::temp_directory_path() / "orvane-launcher-choices";
        std::ofstream(choices) << "first\nsecond\n";
    }
    void TearDown() override { std::filesystem::remove(choices); }

    // Another client holds the keyboard grab: ours is refused (and never taken).
    bool keyboardIsGrabbed() {
        ::Display* display = desktop->connection().display();
        const int result = XGrabKeyboard(display, desktop->connection().root(), False,
                                         GrabModeAsync, GrabModeAsync, CurrentTime);
        if (result == GrabSuccess) {
            XUngrabKeyboard(display, CurrentTime);
        }
        XSync(display, False);
        return result == AlreadyGrabbed;
    }

    std::unique_ptr<TestDesktop> desktop;
    std::filesystem::path choices;
};

TEST_F(X11_guards_launchers, RofiAndDmenuAreNamedLaunchersAndNotSecureInput) {
    auto xterm = startXterm(*desktop, "orvane-behind-the-launcher", 1400, 100);
    ASSERT_NE(xterm.window, 0u);
    ASSERT_TRUE(desktop->desktop().workspace()->activateWindow(xterm.window));
    ASSERT_FALSE(SystemGuards::activeLauncher());

    struct Launcher {
        std::string command;
        std::string identifier;
    };
    for (const Launcher& launcher : {Launcher{"rofi -dmenu", "rofi"}, Launcher{"dmenu", "dmenu"}}) {
        SCOPED_TRACE(launcher.command);
        auto process = std::make_unique<ChildProcess>(std::vector<std::string>{
            "sh", "-c", "exec " + launcher.command + " < \"$0\"", choices.string()});
        std::optional<std::string> name;
        ASSERT_TRUE(desktop->waiter().until([&] {
            name = SystemGuards::activeLauncher();
            return name && keyboardIsGrabbed();
        }));
        const auto front = platform().workspace->frontmostApplication();
        ASSERT_TRUE(front);
        // Its window class, or its desktop entry where one matches.
        std::string identifier = front->applicationId.value_or("");
        std::transform(identifier.begin(), identifier.end(), identifier.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        EXPECT_EQ(identifier, launcher.identifier);
        EXPECT_EQ(name, front->localizedName.value_or("launcher"));
        // It never became the active window, and its grab is no password prompt's.
        EXPECT_EQ(desktop->activeWindow(), xterm.window);
        EXPECT_FALSE(platform().secureInput->isSecureEventInputEnabled());

        process.reset();
        ASSERT_TRUE(desktop->waiter().until([] { return !SystemGuards::activeLauncher(); }));
        EXPECT_EQ(platform().workspace->frontmostApplication()->pid, xterm.pid());
    }
}

} // namespace
} // namespace orvane::linuxbackend::test
