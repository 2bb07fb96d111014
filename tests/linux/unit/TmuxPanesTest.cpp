#include "backends/linux/TmuxPanes.hpp"
#include "backends/linux/DesktopProcesses.hpp"
#include "linux/support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool hasTmux() {
    return DesktopProcesses::runBounded({"tmux", "-V"}, 5s, 4096).output.has_value();
}

// Owned by this user and closed to others, as tmux's are.
struct PrivateDirectory : test::TemporaryDirectory {
    PrivateDirectory() : TemporaryDirectory("orvane-tmux") {}
};

// A listening Unix socket at `path`.
bool bindSocket(const fs::path& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

// Waits for `condition`, checking every 20 ms, at most `timeout`.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        usleep(20'000);
    }
    return true;
}

// This test process as a terminal emulator: it holds the master side of a pty whose session
// runs `argv`, as the terminal's shell would run it in the foreground.
class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& argv) {
        winsize size{24, 80, 0, 0};
        child_ = forkpty(&master_, nullptr, nullptr, &size);
        if (child_ == 0) {
            setenv("TERM", "xterm", 1);
            std::vector<char*> arguments;
            for (const auto& argument : argv) {
                arguments.push_back(const_cast<char*>(argument.c_str()));
            }
            arguments.push_back(nullptr);
            execvp(arguments[0], arguments.data());
            _exit(127);
        }
    }
    ~Terminal() {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        if (master_ >= 0) {
            close(master_);
        }
    }
    bool started() const { return child_ > 0; }
    pid_t client() const { return child_; }
    // Reads what the program drew, so it never waits on a full pty.
    void drain() {
        char buffer[4096];
        while (true) {
            pollfd readable{master_, POLLIN, 0};
            if (poll(&readable, 1, 0) <= 0 || read(master_, buffer, sizeof buffer) <= 0) {
                return;
            }
        }
    }

private:
    pid_t child_ = -1;
    int master_ = -1;
};

std::optional<std::string> tmux(const fs::path& socket, std::vector<std::string> command) {
    command.insert(command.begin(), {"tmux", "-S", socket.string()});
    return DesktopProcesses::runBounded(command, 5s, 64 * 1024).output;
}

// tmux attached in this process's pty, its server at a socket of the test's own.
class TmuxPanesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hasTmux()) {
            GTEST_SKIP() << "tmux is not installed (scripts/install-test-deps.sh)";
        }
    }
    void TearDown() override {
        if (terminal) {
            tmux(socket, {"kill-server"});
        }
    }
    // Starts tmux with the server at `at`, two panes side by side; false when it did not come up.
    // `throughShell`: run by a shell without job control, which leaves tmux in the shell's
    // process group instead of leading its own.
    bool startTmux(const fs::path& at, bool throughShell = false) {
        socket = at;
        std::vector<std::string> command{"tmux", "-S", at.string(), "new-session"};
        if (throughShell) {
            command = {"sh", "-c", "tmux -S '" + at.string() + "' new-session; exit 0"};
        }
        terminal = std::make_unique<Terminal>(command);
        return terminal->started() && eventually([&] {
                   terminal->drain();
                   return !tmux(socket, {"list-clients"}).value_or("").empty();
               }) &&
               tmux(socket, {"split-window", "-h"}).has_value();
    }
    std::string activePane() {
        return tmux(socket, {"display-message", "-p", "#{pane_id}"}).value_or("?\n");
    }

    PrivateDirectory directory;
    fs::path socket;
    std::unique_ptr<Terminal> terminal;
};

TEST_F(TmuxPanesTest, readsTheLayoutOfTheClientInTheForegroundAndSelectsAPane) {
    ASSERT_TRUE(startTmux(directory.path / "default"));
    TmuxPanes panes;
    const auto client = panes.clientIn(getpid());
    ASSERT_TRUE(client);
    EXPECT_EQ(client->pid, terminal->client());
    EXPECT_EQ(client->socket, (fs::canonical(directory.path) / "default").string());

    const auto layout = panes.layout(getpid());
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->columns, 80);
    EXPECT_EQ(layout->rows, 24);
    ASSERT_EQ(layout->panes.size(), 2u);
    const auto& left = layout->panes[0].column == 0 ? layout->panes[0] : layout->panes[1];
    const auto& right = layout->panes[0].column == 0 ? layout->panes[1] : layout->panes[0];
    EXPECT_TRUE(right.active); // the split's new pane
    EXPECT_FALSE(left.active);
    EXPECT_EQ(left.row, 0);
    EXPECT_EQ(left.rows, 23); // the status line below

    EXPECT_TRUE(panes.selectPane(getpid(), left.id));
    EXPECT_TRUE(eventually([&] { return activePane() == left.id + "\n"; }));
    // Only panes of the last layout, and of that terminal, are selected.
    EXPECT_FALSE(panes.selectPane(getpid(), "%999"));
    EXPECT_FALSE(panes.selectPane(getpid() + 1, right.id));
}

TEST_F(TmuxPanesTest, aClientInTheShellsForegroundGroupIsFoundToo) {
    ASSERT_TRUE(startTmux(directory.path / "default", true));
    const auto listed = tmux(socket, {"list-clients", "-F", "#{client_pid}"});
    ASSERT_TRUE(listed);
    TmuxPanes panes;
    const auto client = panes.clientIn(getpid());
    ASSERT_TRUE(client);
    EXPECT_NE(client->pid, terminal->client()); // the shell leads the group
    EXPECT_EQ(std::to_string(client->pid) + "\n", *listed);
    EXPECT_TRUE(panes.layout(getpid()));
}

TEST_F(TmuxPanesTest, aServerThatDoesNotAnswerIsKilledAndLeftAlone) {
    ASSERT_TRUE(startTmux(directory.path / "default"));
    // A tmux that hangs, counting how often it is run.
    const fs::path count = directory.path / "count";
    const fs::path hanging = directory.path / "hanging-tmux";
    std::ofstream(hanging) << "#!/bin/sh\necho run >>" << count << "\nexec sleep 30\n";
    fs::permissions(hanging, fs::perms::owner_all);
    TmuxPanes::Options options;
    options.program = hanging.string();
    options.timeout = 200ms;
    options.reuse = 0ms;
    TmuxPanes panes(options);

    const auto started = Clock::now();
    EXPECT_FALSE(panes.layout(getpid()));
    EXPECT_FALSE(panes.layout(getpid()));
    EXPECT_LT(Clock::now() - started, 2s);
    std::ifstream runs(count);
    std::string line;
    int lines = 0;
    while (std::getline(runs, line)) {
        ++lines;
    }
    EXPECT_EQ(lines, 1);
}

TEST_F(TmuxPanesTest, aShellInTheForegroundIsNoTmux) {
    Terminal shell({"sleep", "30"});
    ASSERT_TRUE(shell.started());
    TmuxPanes panes;
    EXPECT_FALSE(panes.clientIn(getpid()));
    EXPECT_FALSE(panes.layout(getpid()));
    EXPECT_FALSE(panes.layout(1)); // a process with no pty
}

TEST_F(TmuxPanesTest, aServerInADirectoryOthersMayWriteToIsNeverAsked) {
    // /tmp itself is everyone's: another user could have put the socket there.
    const fs::path shared = "/tmp/orvane-tmux-" + std::to_string(getpid());
    ASSERT_TRUE(startTmux(shared));
    TmuxPanes panes;
    EXPECT_FALSE(panes.clientIn(getpid()));
    EXPECT_FALSE(panes.layout(getpid()));
}

// --- Which sockets are the user's -------------------------------------------------------------

TEST(TmuxSockets, onlyTheUsersOwnSocketInTheUsersOwnClosedDirectory) {
    PrivateDirectory directory;
    const fs::path socket = directory.path / "default";
    ASSERT_TRUE(bindSocket(socket));
    EXPECT_EQ(TmuxPanes::usersSocket(socket.string()), fs::canonical(socket).string());
    // Through a symbolic link to the directory, the real directory is checked and named.
    fs::create_directory_symlink(directory.path, directory.path / "link");
    EXPECT_EQ(TmuxPanes::usersSocket((directory.path / "link" / "default").string()),
              fs::canonical(socket).string());

    // Not sockets: a file, a pipe, a link to the socket, nothing.
    std::ofstream(directory.path / "file") << "x";
    mkfifo((directory.path / "fifo").c_str(), 0600);
    fs::create_symlink(socket, directory.path / "alias");
    for (const char* name : {"file", "fifo", "alias", "missing", "", ".", ".."}) {
        EXPECT_FALSE(TmuxPanes::usersSocket((directory.path / name).string())) << name;
    }
    EXPECT_FALSE(TmuxPanes::usersSocket("default"));

    // A directory others may write to, where anyone could have swapped the socket.
    fs::permissions(directory.path, fs::perms::group_write, fs::perm_options::add);
    EXPECT_FALSE(TmuxPanes::usersSocket(socket.string()));
    fs::permissions(directory.path, fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_TRUE(TmuxPanes::usersSocket(socket.string()));
}

TEST(TmuxSockets, anotherUsersSocketOrDirectoryIsRefused) {
    if (getuid() != 0) {
        GTEST_SKIP() << "giving files to another user takes root";
    }
    constexpr uid_t stranger = 12345;
    PrivateDirectory directory;
    const fs::path socket = directory.path / "default";
    ASSERT_TRUE(bindSocket(socket));
    ASSERT_EQ(chown(socket.c_str(), stranger, stranger), 0);
    EXPECT_FALSE(TmuxPanes::usersSocket(socket.string()));

    ASSERT_EQ(chown(socket.c_str(), 0, 0), 0);
    ASSERT_EQ(chown(directory.path.c_str(), stranger, stranger), 0);
    EXPECT_FALSE(TmuxPanes::usersSocket(socket.string()));
}

// --- Running tmux ------------------------------------------------------------------------------

TEST(BoundedRun, outputOnlyFromAProgramThatEndsWellInTime) {
    const auto printed = DesktopProcesses::runBounded({"printf", "a\\nb"}, 5s, 100);
    EXPECT_EQ(printed.output, "a\nb");
    EXPECT_FALSE(printed.timedOut);
    EXPECT_FALSE(DesktopProcesses::runBounded({"false"}, 5s, 100).output);
    EXPECT_FALSE(DesktopProcesses::runBounded({"/nonexistent/tmux"}, 5s, 100).output);

    const auto started = Clock::now();
    const auto hung = DesktopProcesses::runBounded({"sleep", "30"}, 100ms, 100);
    EXPECT_TRUE(hung.timedOut);
    EXPECT_FALSE(hung.output);
    // Printing without end is stopped at the limit, no need to wait for the deadline.
    const auto endless = DesktopProcesses::runBounded({"yes"}, 20s, 64 * 1024);
    EXPECT_FALSE(endless.timedOut);
    EXPECT_FALSE(endless.output);
    EXPECT_LT(Clock::now() - started, 5s);
}

} // namespace
} // namespace orvane::linuxbackend
