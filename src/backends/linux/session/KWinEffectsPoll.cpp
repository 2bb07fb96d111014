#include "backends/linux/session/KWinEffectsPoll.hpp"

#include <cstdlib>

namespace orvane::linuxbackend {
namespace {

// A KWin that does not answer within this is asked again at the next read.
constexpr std::uint64_t readTimeoutMicroseconds = 1'000'000;

} // namespace

const std::set<std::string>& kwinOverviewEffects() {
    // Overview (with its grid), present windows (windowview, formerly presentwindows) and the
    // desktop grids (desktopgrid, expo).
    static const std::set<std::string> names{"overview", "windowview", "presentwindows",
                                             "desktopgrid", "expo"};
    return names;
}

std::optional<bool> readsKWinOverview(sd_bus_message* m) {
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, "as") <= 0) {
        return std::nullopt;
    }
    char** names = nullptr;
    if (sd_bus_message_read_strv(m, &names) < 0) {
        return std::nullopt;
    }
    bool overview = false;
    for (char** name = names; name && *name; ++name) {
        overview = overview || kwinOverviewEffects().contains(*name);
        std::free(*name);
    }
    std::free(names);
    return overview;
}

KWinEffectsPoll::KWinEffectsPoll(BusConnection& bus, BusLoop& loop,
                                 std::function<void(std::optional<bool>)> answered)
    : bus_(bus), answered_(std::move(answered)), timer_(loop, [this] { ask(); }) {}

KWinEffectsPoll::~KWinEffectsPoll() {
    stop();
}

void KWinEffectsPoll::start() {
    timer_.every(kwinEffectsPollMicroseconds);
    ask();
}

void KWinEffectsPoll::stop() {
    timer_.cancel();
    reading_ = sd_bus_slot_unref(reading_);
}

void KWinEffectsPoll::ask() {
    if (reading_) {
        return;
    }
    bus_.getProperty(
        "org.kde.KWin", "/Effects", "org.kde.kwin.Effects", "activeEffects",
        readTimeoutMicroseconds,
        [this](sd_bus_message* m) {
            reading_ = sd_bus_slot_unref(reading_);
            answered_(sd_bus_message_is_method_error(m, nullptr) ? std::nullopt
                                                                 : readsKWinOverview(m));
        },
        &reading_);
}

} // namespace orvane::linuxbackend
