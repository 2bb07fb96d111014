#include "backends/linux/TerminalEcho.hpp"
#include "linux/support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

namespace fs = std::filesystem;

// A real pseudo-terminal held by this process, as a terminal emulator holds its tabs'.
class Pty {
public:
    Pty() {
        char name[64] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            const std::string path = name;
            index_ = std::stoi(path.substr(path.rfind('/') + 1));
        }
    }
    ~Pty() { closeAll(); }
    void closeAll() {
        if (master_ >= 0) {
            close(master_);
            close(slave_);
            master_ = slave_ = -1;
        }
    }
    bool ok() const { return master_ >= 0; }
    int index() const { return index_; }

    // What a program reading from the terminal does to it.
    void setModes(bool echo, bool canonical) {
        termios flags{};
        tcgetattr(slave_, &flags);
        flags.c_lflag = echo ? (flags.c_lflag | ECHO) : (flags.c_lflag & ~tcflag_t(ECHO));
        flags.c_lflag = canonical ? (flags.c_lflag | ICANON) : (flags.c_lflag & ~tcflag_t(ICANON));
        tcsetattr(slave_, TCSANOW, &flags);
    }

private:
    int master_ = -1;
    int slave_ = -1;
    int index_ = -1;
};

bool holds(const std::vector<int>& ptys, int index) {
    return std::find(ptys.begin(), ptys.end(), index) != ptys.end();
}

TEST(TerminalEcho, tellsAPasswordPromptFromEchoAndFromRawInput) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TerminalEcho terminals;
    const pid_t self = getpid();
    EXPECT_TRUE(holds(terminals.ptysOf(self), pty.index()));

    pty.setModes(true, true); // a shell without a line editor, cat
    EXPECT_FALSE(terminals.isReadingPassword(1, self));
    pty.setModes(false, true); // sudo, ssh, getpass, read -s
    EXPECT_TRUE(terminals.isReadingPassword(1, self));
    pty.setModes(false, false); // an editor, less, a shell's line editor at its prompt
    EXPECT_FALSE(terminals.isReadingPassword(1, self));
    pty.setModes(false, true);
    EXPECT_TRUE(terminals.isReadingPassword(1, self));

    // The tab closed: nothing left to read, nothing held open by us.
    const int index = pty.index();
    pty.closeAll();
    EXPECT_FALSE(holds(terminals.ptysOf(self), index));
    EXPECT_FALSE(terminals.isReadingPassword(1, self));
}

TEST(TerminalEcho, anyTabWithAPromptCounts) {
    Pty first, second;
    ASSERT_TRUE(first.ok() && second.ok());
    first.setModes(false, false);
    second.setModes(true, true);
    TerminalEcho terminals;
    EXPECT_FALSE(terminals.isReadingPassword(1, getpid()));
    second.setModes(false, true);
    EXPECT_TRUE(terminals.isReadingPassword(1, getpid()));
}

// A /proc of our own making for one process, whose descriptors point where the test says.
class FakeProc {
public:
    FakeProc() {
        fs::create_directories(root / "42" / "fd");
        fs::create_directories(root / "42" / "fdinfo");
    }

    void descriptor(int fd, const std::string& target, const std::string& fdinfo) {
        fs::create_symlink(target, root / "42" / "fd" / std::to_string(fd));
        std::ofstream(root / "42" / "fdinfo" / std::to_string(fd)) << fdinfo;
    }
    TerminalEcho::Paths paths() const { return {root.string(), "/dev/pts"}; }

    test::TemporaryDirectory directory{"orvane-proc"};
    const fs::path& root = directory.path;
};

TEST(TerminalEcho, readsOnlyMastersThatNameTheirPty) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    pty.setModes(false, true);
    FakeProc proc;
    const std::string index = std::to_string(pty.index());
    proc.descriptor(0, "/dev/null", "pos:\t0\n");
    proc.descriptor(1, "/dev/pts/" + index, "pos:\t0\n");     // a slave: some program's own tty
    proc.descriptor(2, "/dev/ptmx", "pos:\t0\nflags:\t02\n"); // no index: skipped
    proc.descriptor(3, "/dev/ptmx", "tty-index:\tseven\n");   // malformed: skipped
    proc.descriptor(4, "/dev/pts/ptmx", "pos:\t0\ntty-index:\t" + index + "\n");
    TerminalEcho terminals(proc.paths());
    EXPECT_EQ(terminals.ptysOf(42), std::vector<int>{pty.index()});
    EXPECT_TRUE(terminals.isReadingPassword(7, 42));
    EXPECT_FALSE(terminals.isReadingPassword(7, 4242)); // no such process
    EXPECT_FALSE(terminals.isReadingPassword(7, 0));
}

TEST(TerminalEcho, aWindowThatWasNoTerminalIsLookedAtAgain) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    pty.setModes(false, true);
    const std::string master = "tty-index:\t" + std::to_string(pty.index()) + "\n";

    // Its pty opens only after it took focus: seen within a few questions.
    FakeProc late;
    late.descriptor(0, "/dev/null", "pos:\t0\n");
    TerminalEcho staying(late.paths());
    EXPECT_FALSE(staying.isReadingPassword(7, 42));
    late.descriptor(5, "/dev/ptmx", master);
    bool seen = false;
    for (int ask = 0; ask < TerminalEcho::recheckEvery && !seen; ++ask) {
        seen = staying.isReadingPassword(7, 42);
    }
    EXPECT_TRUE(seen);

    // Focus elsewhere and back: looked at again at once.
    FakeProc back;
    back.descriptor(0, "/dev/null", "pos:\t0\n");
    TerminalEcho switching(back.paths());
    EXPECT_FALSE(switching.isReadingPassword(7, 42));
    back.descriptor(5, "/dev/ptmx", master);
    EXPECT_FALSE(switching.isReadingPassword(8, 43));
    EXPECT_TRUE(switching.isReadingPassword(7, 42));
}

} // namespace
} // namespace orvane::linuxbackend
