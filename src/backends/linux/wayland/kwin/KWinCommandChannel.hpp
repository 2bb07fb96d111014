#pragma once

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/dbus/BusTimer.hpp"
#include "backends/linux/wayland/kwin/KWinLinkState.hpp"
#include "backends/linux/wayland/kwin/KWinScriptHost.hpp"

#include <cstdint>
#include <string>

namespace orvane::linuxbackend {

// The link's bus object, which Orvane's KWin script calls, on the link's worker: the script
// pushes KWin's state to it, and takes its commands as the answer to the NextCommand call it
// keeps waiting on us, since a KWin script cannot be called. A call not from the KWin the
// script was loaded into, with this run's key, is refused; a message that cannot be used is
// dropped and said so (a few times).
class KWinCommandChannel {
public:
    KWinCommandChannel(BusConnection& bus, BusLoop& loop, KWinLinkState& state,
                       const KWinScriptHost& host);
    ~KWinCommandChannel();
    KWinCommandChannel(const KWinCommandChannel&) = delete;
    KWinCommandChannel& operator=(const KWinCommandChannel&) = delete;

    // Serves the object; a negative errno when it cannot.
    int serve();
    // A command was queued: handed over if the script is waiting.
    void deliver();
    // A script is being loaded: its state is read afresh.
    void restart();
    // Lets go of the script's standing call, unanswered.
    void release();
    // Whether the script has gone quiet: not waiting on us, and not asking for this long.
    bool isSilent(std::uint64_t microseconds) const;
    // Counts the quiet from now (the script was just loaded).
    void heard();

private:
    using Method = int (KWinCommandChannel::*)(sd_bus_message*);
    struct Entry {
        const char* member;
        const char* signature; // the key first
        Method handler;
    };
    static const Entry methods[7];

    static int onCall(sd_bus_message* m, void* userdata, sd_bus_error* error);
    bool admits(sd_bus_message* m);
    void dropped(const char* member, const std::string& problem);
    void answer(const std::string& command);
    bool accepting() const { return helloSeen_; }
    void maybeReady();
    std::uint64_t idOfLocked(const std::string& uuid);

    int onHello(sd_bus_message* m);
    int onOutputs(sd_bus_message* m);
    int onWindows(sd_bus_message* m);
    int onActive(sd_bus_message* m);
    int onCursor(sd_bus_message* m);
    int onDone(sd_bus_message* m);
    int onNextCommand(sd_bus_message* m);

    BusConnection& bus_;
    BusLoop& loop_;
    KWinLinkState& state_;
    const KWinScriptHost& host_;
    sd_bus_slot* object_ = nullptr;
    sd_bus_message* poll_ = nullptr; // the script's standing NextCommand call
    BusTimer hold_;                  // answers it with "nothing" in time
    std::uint64_t lastAnswer_ = 0;
    bool refusalLogged_ = false;
    LimitedLog dropped_;
    bool helloSeen_ = false;
    bool outputsSeen_ = false;
    bool windowsSeen_ = false;
};

} // namespace orvane::linuxbackend
