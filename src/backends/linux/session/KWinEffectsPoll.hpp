#pragma once

#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/dbus/BusTimer.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace orvane::linuxbackend {

// KWin's effects that show every window to pick one from: a focus switch under one would be
// lost. The same names on X11 and on Wayland.
const std::set<std::string>& kwinOverviewEffects();
// KWin lists its active effects but never announces a change, so the list is read this often
// while KWin is there: a switch asked for within it of an overview opening may still go.
inline constexpr std::uint64_t kwinEffectsPollMicroseconds = 250'000;

// Whether the activeEffects value at the read position (a variant holding a string array)
// names an overview; nullopt when it holds something else.
std::optional<bool> readsKWinOverview(sd_bus_message* m);

// Reads KWin's active effects on a worker's connection while started, at once and then every
// poll interval, one read at a time; `answered` is told each answer: whether an overview
// shows, nullopt when KWin did not say.
class KWinEffectsPoll {
public:
    KWinEffectsPoll(BusConnection& bus, BusLoop& loop,
                    std::function<void(std::optional<bool>)> answered);
    ~KWinEffectsPoll();
    KWinEffectsPoll(const KWinEffectsPoll&) = delete;
    KWinEffectsPoll& operator=(const KWinEffectsPoll&) = delete;

    void start();
    // A read on its way is dropped, never told.
    void stop();

private:
    void ask();

    BusConnection& bus_;
    std::function<void(std::optional<bool>)> answered_;
    BusTimer timer_;
    sd_bus_slot* reading_ = nullptr;
};

} // namespace orvane::linuxbackend
