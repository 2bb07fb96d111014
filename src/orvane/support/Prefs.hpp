#pragma once

#include "orvane/platform/PreferencesStore.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orvane {

namespace PrefKey {
inline constexpr const char* settleMilliseconds = "settleMilliseconds";
inline constexpr const char* turnThreshold = "turnThreshold";
inline constexpr const char* paneDelayMilliseconds = "paneDelayMilliseconds";
inline constexpr const char* typingPauseSeconds = "typingPauseSeconds";
inline constexpr const char* learnFromClicks = "learnFromClicks";
inline constexpr const char* showGazeDot = "showGazeDot";
inline constexpr const char* focusPanes = "focusPanes";
inline constexpr const char* moveCursor = "moveCursor";
inline constexpr const char* respectMouse = "respectMouse";
inline constexpr const char* edgeMarginPoints = "edgeMarginPoints";
inline constexpr const char* cameraID = "cameraID";
// Read the keyboards and pointers themselves (where the platform offers it): off unless the
// user turns it on.
inline constexpr const char* readInputDevices = "readInputDevices";
} // namespace PrefKey

// The one access point to the user's settings. Defaults are registered when the instance is
// created; every value is read afresh from the store, so a change made anywhere takes effect
// at the next read.
class Prefs {
public:
    // The instance over the installed platform's preference store (rebuilt, with the defaults
    // registered again, when another platform is installed).
    static Prefs& shared();

    explicit Prefs(std::shared_ptr<PreferencesStore> store);

    PreferencesStore& defaults() const { return *store_; }

    // Durations are held within a day either way, so that no deadline computed from them can
    // overflow. Within that a negative value reads as stored; its users count it as 0.
    static constexpr std::int64_t longestMilliseconds = 86'400'000;
    static constexpr double longestSeconds = 86'400.0;

    std::int64_t settleMilliseconds() const;
    double turnThreshold() const { return store_->real(PrefKey::turnThreshold); }
    std::int64_t paneDelayMilliseconds() const;
    double typingPauseSeconds() const;
    bool learnFromClicks() const { return store_->boolean(PrefKey::learnFromClicks); }
    bool showGazeDot() const { return store_->boolean(PrefKey::showGazeDot); }
    bool focusPanes() const { return store_->boolean(PrefKey::focusPanes); }
    bool moveCursor() const { return store_->boolean(PrefKey::moveCursor); }
    bool respectMouse() const { return store_->boolean(PrefKey::respectMouse); }
    double edgeMarginPoints() const { return store_->real(PrefKey::edgeMarginPoints); }
    std::optional<std::string> cameraID() const { return store_->string(PrefKey::cameraID); }
    bool readInputDevices() const { return store_->boolean(PrefKey::readInputDevices); }

    // An empty identifier means "the system's default camera": the key is removed rather than
    // holding an empty text.
    void setCameraID(const std::string& identifier);

private:
    std::shared_ptr<PreferencesStore> store_;
};

} // namespace orvane
