#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvane::linuxbackend {

// Whether a terminal emulator's window is asking for a password: one of the pseudo-terminals
// whose master side its process holds has echo off while still reading whole lines, as sudo,
// ssh, passwd and getpass leave it. Full-screen programs and shells' line editors turn echo
// off too, but read key by key, so they do not count.
//
// A terminal is recognised by what it does, not by its name: its process holds a pty master
// (/proc/PID/fd/N is /dev/ptmx), and the master's fdinfo names the pty ("tty-index"). The
// flags are read from the pty's slave, opened read-only without becoming our controlling
// terminal: the slave belongs to the user, whereas reopening the master through /proc would
// create a new pty and borrowing the terminal's descriptor needs ptrace rights. Nothing is
// kept open, so a closed tab hangs up as it should. Main thread.
class TerminalEcho {
public:
    // Where /proc and the pty slaves are (tests point them at a tree of their own).
    struct Paths {
        std::string proc = "/proc";
        std::string devPts = "/dev/pts";
    };

    TerminalEcho();
    explicit TerminalEcho(Paths paths);

    // For the focused window `window`, shown by process `pid`. A process that holds no pty is
    // looked at again only every few questions while its window keeps focus, so a window
    // that is no terminal costs nearly nothing.
    bool isReadingPassword(std::uint64_t window, pid_t pid);

    // The numbers of the ptys whose master side `pid` holds; empty when none or unreadable.
    std::vector<int> ptysOf(pid_t pid) const;

    // True when the pty's flags say echo off with line-by-line input.
    bool isPasswordMode(int pty) const;

    // Questions a window that is no terminal is trusted for before it is looked at again.
    static constexpr int recheckEvery = 30;

private:
    Paths paths_;
    std::uint64_t window_ = 0;
    pid_t pid_ = 0;
    bool isTerminal_ = false;
    int sinceLook_ = 0;
};

} // namespace orvane::linuxbackend
