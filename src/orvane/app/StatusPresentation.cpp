#include "orvane/app/StatusPresentation.hpp"

namespace orvane::StatusPresentation {
namespace {

MenuItem separator() {
    MenuItem item;
    item.separator = true;
    return item;
}

MenuItem item(std::string title, MenuAction action) {
    MenuItem made;
    made.title = std::move(title);
    made.action = action;
    return made;
}

} // namespace

std::string summary(const GazeStatus& status) {
    switch (status.kind) {
    case GazeStatus::Kind::tracking:
        return "Watching " + status.text;
    case GazeStatus::Kind::waiting:
        return "Holding \u2014 " + status.text;
    case GazeStatus::Kind::needsCamera:
        return "Camera access needed";
    case GazeStatus::Kind::needsAccessibility:
        return "Accessibility access needed";
    case GazeStatus::Kind::needsCalibration:
        return "Not calibrated yet";
    case GazeStatus::Kind::paused:
        return "Paused";
    case GazeStatus::Kind::noFace:
        return "Can't see you";
    }
    return {};
}

StatusIcon icon(const GazeStatus& status) {
    switch (status.kind) {
    case GazeStatus::Kind::tracking:
        return StatusIcon::tracking;
    case GazeStatus::Kind::waiting:
        return StatusIcon::waiting;
    case GazeStatus::Kind::needsCamera:
    case GazeStatus::Kind::needsAccessibility:
    case GazeStatus::Kind::needsCalibration:
        return StatusIcon::setup;
    case GazeStatus::Kind::paused:
        return StatusIcon::paused;
    case GazeStatus::Kind::noFace:
        return StatusIcon::noFace;
    }
    return StatusIcon::setup;
}

const char* iconName(StatusIcon icon) {
    switch (icon) {
    case StatusIcon::tracking:
        return "tracking";
    case StatusIcon::waiting:
        return "waiting";
    case StatusIcon::setup:
        return "setup";
    case StatusIcon::paused:
        return "paused";
    case StatusIcon::noFace:
        return "noFace";
    }
    return "setup";
}

bool showsGazeDot(const GazeStatus& status, bool showGazeDotPreference) {
    if (!showGazeDotPreference) {
        return false;
    }
    return status.kind == GazeStatus::Kind::tracking || status.kind == GazeStatus::Kind::waiting ||
           status.kind == GazeStatus::Kind::noFace;
}

std::vector<MenuItem> menu(const MenuState& state, const PlatformWords& words) {
    std::vector<MenuItem> items;
    MenuItem heading = item(summary(state.status), MenuAction::none);
    heading.enabled = false;
    items.push_back(std::move(heading));
    if (!state.reducedGuards.empty()) {
        MenuItem reduced = item("Fewer guards on this desktop", MenuAction::none);
        reduced.enabled = false;
        reduced.tooltip = state.reducedGuards;
        items.push_back(std::move(reduced));
    }
    items.push_back(separator());

    if (!state.status.needsSetUp()) {
        MenuItem pause = item(state.isPaused ? "Resume" : "Pause", MenuAction::togglePause);
        pause.shortcut = words.pauseHotKey;
        items.push_back(std::move(pause));
        if (state.needsRecalibration) {
            MenuItem drift = item("\u26A0\uFE0E Accuracy has drifted", MenuAction::none);
            drift.enabled = false;
            items.push_back(std::move(drift));
        }
        MenuItem recalibrate = item("Recalibrate\u2026", MenuAction::recalibrate);
        recalibrate.enabled = !state.calibrationRunning;
        items.push_back(std::move(recalibrate));
        MenuItem dot = item("Show Gaze Dot", MenuAction::toggleGazeDot);
        dot.checkable = true;
        dot.checked = state.showGazeDot;
        items.push_back(std::move(dot));
    } else {
        items.push_back(item("Finish Setup\u2026", MenuAction::finishSetup));
        if (state.status.kind == GazeStatus::Kind::needsAccessibility) {
            MenuItem relaunch = item("Relaunch Orvane", MenuAction::relaunch);
            relaunch.tooltip = words.relaunchTooltip;
            items.push_back(std::move(relaunch));
        }
    }

    items.push_back(separator());
    MenuItem settings = item("Settings\u2026", MenuAction::openSettings);
    settings.shortcut = words.settingsShortcut;
    items.push_back(std::move(settings));
    items.push_back(separator());
    MenuItem quit = item("Quit Orvane", MenuAction::quit);
    quit.shortcut = words.quitShortcut;
    items.push_back(std::move(quit));
    return items;
}

} // namespace orvane::StatusPresentation
