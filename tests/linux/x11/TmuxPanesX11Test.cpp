#include <gtest/gtest.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/DesktopProcesses.hpp"
#include "backends/linux/TmuxPanes.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

#include "orvane/focus/PaneFocuser.hpp"
#include "orvane/focus/WindowFinder.hpp"
#include "orvane/support/Prefs.hpp"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::linuxbackend::test {
namespace {

namespace fs = std::filesystem;

// Real terminals running tmux side by side with two panes; PaneFocuser, over the real window
// list and TmuxPanes, must make tmux's active pane follow gaze points on the left and right.
class X11_tmux_panes : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TEST_DESKTOP();
        if (!DesktopProcesses::runBounded({"tmux", "-V"}, 5s, 4096).output) {
            if (std::getenv("CI")) {
                FAIL() << "tmux is not installed";
            }
            GTEST_SKIP() << "tmux is not installed (scripts/install-test-deps.sh)";
        }
        desktop = std::make_unique<TestDesktop>();
        desktop->preferences().setBool(PrefKey::focusPanes, true);
        platform().terminalMultiplexer = std::make_shared<TmuxPanes>();
        // A server of the test's own, beside any of the user's.
        server = {"-L", "orvane-test-" + std::to_string(getpid())};
    }
    void TearDown() override {
        if (!server.empty()) {
            tmux({"kill-server"});
        }
    }

    std::optional<std::string> tmux(std::vector<std::string> command) {
        command.insert(command.begin(), server.begin(), server.end());
        command.insert(command.begin(), "tmux");
        return DesktopProcesses::runBounded(command, 5s, 64 * 1024).output;
    }
    std::string activePane() { return tmux({"display-message", "-p", "#{pane_id}"}).value_or(""); }

    // Starts `terminal` (its arguments up to the command it runs) running tmux on the test's
    // server, and splits tmux's window into a left and a right pane once the client is there.
    RunningClient startTerminal(const std::vector<std::string>& terminal) {
        std::vector<std::string> argv = terminal;
        argv.push_back("tmux");
        argv.insert(argv.end(), server.begin(), server.end());
        argv.push_back("new-session");
        RunningClient client;
        client.process = std::make_unique<ChildProcess>(argv);
        client.window = desktop->waitForClientWindow(client.pid(), 30s).value_or(0);
        const bool attached =
            client.window &&
            desktop->waiter().until([&] { return !tmux({"list-clients"}).value_or("").empty(); },
                                    20s, 50ms);
        if (!attached || !tmux({"split-window", "-h"})) {
            client.window = 0;
            return client;
        }
        std::istringstream panes(
            tmux({"list-panes", "-F", "#{pane_left} #{pane_id}"}).value_or(""));
        int column = 0;
        std::string id;
        while (panes >> column >> id) {
            (column == 0 ? leftPane : rightPane) = id + "\n";
        }
        desktop->desktop().workspace()->activateWindow(client.window);
        return client;
    }

    // The gaze on the left and the right half of the window, in turn: tmux follows each time.
    void followsTheGaze(const RunningClient& terminal) {
        ASSERT_NE(terminal.window, 0u) << "the terminal or tmux did not start";
        ASSERT_FALSE(leftPane.empty());
        ASSERT_FALSE(rightPane.empty());
        const auto window = listed(terminal.window);
        ASSERT_TRUE(window);
        const plinth::Rect area = window->contentFrame.value_or(window->frame);
        const plinth::Point left{area.x + area.width / 4, area.y + area.height / 2};
        const plinth::Point right{area.x + area.width * 3 / 4, area.y + area.height / 2};

        PaneFocuser focuser;
        ASSERT_EQ(activePane(), rightPane); // the split's new pane
        EXPECT_FALSE(focuser.focusPane(*window, right));
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(focuser.focusPane(*window, left));
            EXPECT_TRUE(
                desktop->waiter().until([&] { return activePane() == leftPane; }, 5s, 50ms));
            ASSERT_TRUE(focuser.focusPane(*window, right));
            EXPECT_TRUE(
                desktop->waiter().until([&] { return activePane() == rightPane; }, 5s, 50ms));
        }
    }

    std::unique_ptr<TestDesktop> desktop;
    std::vector<std::string> server;
    std::string leftPane, rightPane;
};

TEST_F(X11_tmux_panes, followsTheGazeInXterm) {
    const auto xterm = startTerminal({"xterm", "-geometry", "100x30+1400+50", "-e"});
    followsTheGaze(xterm);
}

TEST_F(X11_tmux_panes, followsTheGazeInKonsole) {
    const auto konsole = startTerminal({"konsole", "--geometry", "900x600+1400+50", "-e"});
    followsTheGaze(konsole);
}

// What an attacker could do: have the user's terminal attach to a server at a socket the
// attacker placed. Such a server is never asked, so its panes never change.
TEST_F(X11_tmux_panes, aServerAtASocketOthersCouldHavePlacedIsNeverAsked) {
    // Straight in /tmp, which every user may write to.
    server = {"-S", "/tmp/orvane-tmux-shared-" + std::to_string(getpid())};
    auto xterm = startTerminal({"xterm", "-geometry", "100x30+1400+50", "-e"});
    ASSERT_NE(xterm.window, 0u);
    auto window = listed(xterm.window);
    ASSERT_TRUE(window);
    const plinth::Rect area = window->contentFrame.value_or(window->frame);
    const plinth::Point left{area.x + area.width / 4, area.y + area.height / 2};
    PaneFocuser focuser;
    EXPECT_FALSE(focuser.focusPane(*window, left));
    EXPECT_EQ(activePane(), rightPane);
    tmux({"kill-server"});

    // In a directory of the user's own, but the socket given to someone else.
    if (getuid() != 0) {
        GTEST_SKIP() << "giving a socket to another user takes root";
    }
    std::string directory = "/tmp/orvane-tmux-XXXXXX";
    ASSERT_TRUE(mkdtemp(directory.data()));
    const std::string socket = directory + "/default";
    server = {"-S", socket};
    auto other = startTerminal({"xterm", "-geometry", "100x30+1400+500", "-e"});
    ASSERT_NE(other.window, 0u);
    ASSERT_EQ(chown(socket.c_str(), 12345, 12345), 0);
    window = listed(other.window);
    ASSERT_TRUE(window);
    const plinth::Rect otherArea = window->contentFrame.value_or(window->frame);
    EXPECT_FALSE(focuser.focusPane(
        *window, {otherArea.x + otherArea.width / 4, otherArea.y + otherArea.height / 2}));
    EXPECT_EQ(activePane(), rightPane);
    tmux({"kill-server"});
    fs::remove_all(directory);
}

} // namespace
} // namespace orvane::linuxbackend::test
