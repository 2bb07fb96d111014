#include "orvane/support/Diagnostics.hpp"

#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/camera/CameraCapture.hpp"
#include "orvane/focus/FocusRefusals.hpp"
#include "orvane/focus/PasswordPrompts.hpp"
#include "orvane/focus/UnreachablePrograms.hpp"
#include "orvane/guards/SystemGuards.hpp"
#include "orvane/platform/HotKeys.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/DesktopBridgeText.hpp"
#include "orvane/support/InstanceHolder.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/Numeric.hpp"

#include <optional>
#include <string>
#include <vector>

namespace orvane::Diagnostics {
namespace {

// The guard labels are padded so that every value starts in this column.
constexpr std::size_t guardValueColumn = 19;

// Each line goes out at once: a report that hangs on a slow service still shows how far it got.
void print(std::ostream& out, const std::string& line) {
    out << line << '\n' << std::flush;
}

// A block of lines is written in one go.
void printBlock(std::ostream& out, const std::vector<std::string>& lines) {
    std::string block;
    for (const auto& line : lines) {
        block += line;
        block += '\n';
    }
    out << block << std::flush;
}

const PlatformWords& words() {
    static const PlatformWords none;
    const auto& installed = platform().words;
    return installed ? *installed : none;
}

std::string whole(double value) {
    return std::to_string(plinth::truncatedToInt64(value));
}

const char* yesNo(bool value) {
    return value ? "true" : "false";
}

std::string cameraPermission() {
    const auto& camera = platform().camera;
    if (!camera) {
        return "unknown";
    }
    switch (camera->authorizationStatus()) {
    case CameraAuthorization::notDetermined:
        return "not yet asked";
    case CameraAuthorization::restricted:
        return "restricted";
    case CameraAuthorization::denied:
        return "DENIED";
    case CameraAuthorization::authorized:
        return "authorized";
    }
    return "unknown";
}

// Without an accessibility service nothing can be done through it: as good as not trusted.
bool isTrusted() {
    const auto& accessibility = platform().accessibility;
    return accessibility && accessibility->isProcessTrusted();
}

std::vector<Display> screens() {
    const auto& displays = platform().displays;
    return displays ? displays->screens() : std::vector<Display>{};
}

std::string layoutNow() {
    if (!platform().displays) {
        return CalibrationStore::signatureOf({});
    }
    return CalibrationStore::currentLayoutSignature();
}

// The guards as the engine asks them; with no desktop to ask they hold nothing back.
struct Guards {
    bool secureInput = false;
    bool menuOpen = false;
    bool overview = false;
    std::optional<std::string> launcher;

    static Guards now() {
        const auto& services = platform();
        Guards guards;
        guards.secureInput =
            services.secureInput && services.secureInput->isSecureEventInputEnabled();
        if (services.windowServer && services.displays) {
            guards.menuOpen = SystemGuards::isMenuOpen();
            guards.overview = SystemGuards::isMissionControlActive();
        }
        if (services.workspace) {
            guards.launcher = SystemGuards::activeLauncher();
        }
        return guards;
    }

    std::string blockingReason() const {
        if (secureInput) {
            return "secure input";
        }
        if (menuOpen) {
            return "menu open";
        }
        if (overview) {
            return words().overviewReason;
        }
        if (launcher) {
            return *launcher;
        }
        return "none — safe to switch";
    }
};

std::size_t displayWidth(const std::string& text) {
    std::size_t width = 0;
    for (const unsigned char byte : text) {
        width += (byte & 0xC0) != 0x80; // UTF-8 continuation bytes take no column
    }
    return width;
}

std::string guardLabel(const std::string& name) {
    std::string label = "  " + name + ":";
    const std::size_t width = displayWidth(label);
    label.append(width < guardValueColumn ? guardValueColumn - width : 1, ' ');
    return label;
}

void printGuards(std::ostream& out) {
    const auto guards = Guards::now();
    print(out, "\nguards right now:");
    print(out, guardLabel("secure input") + yesNo(guards.secureInput));
    print(out, guardLabel("menu open") + yesNo(guards.menuOpen));
    print(out, guardLabel(words().overviewLabel) + yesNo(guards.overview));
    print(out, guardLabel("launcher front") + guards.launcher.value_or("none"));
    // Asked afresh: the reason is what holds a switch back at the moment it is printed.
    print(out, guardLabel("blocking reason") + Guards::now().blockingReason());
}

// Everything Orvane adds to the desktop can be used by someone: say by whom, and who holds the
// name that stands for Orvane, so that nothing takes it over unnoticed.
void printExposure(std::ostream& out) {
    std::vector<std::string> lines{"", "added to this desktop, and who may use it:"};
    std::string holder = "unknown";
    if (const auto& processInfo = platform().processInfo) {
        const auto owner = processInfo->instanceNameOwner();
        holder = InstanceHolder::describe(owner, owner ? processInfo->executablePath(*owner)
                                                       : std::nullopt);
    }
    lines.push_back(std::string("  ") + kApplicationIdentifier + " on the session bus: " + holder);
    lines.push_back(
        "    any program of yours may ask it to show Orvane's window, or to pause or resume it, "
        "nothing else");
    for (const auto& line : platform().exposure) {
        lines.push_back("  " + line);
    }
    printBlock(out, lines);
}

} // namespace

bool isLaunchedFromTerminal() {
    const auto& processInfo = platform().processInfo;
    if (!processInfo) {
        return true;
    }
    const pid_t parent = processInfo->parentProcessID();
    if (parent == 1) {
        return false;
    }
    const auto path = processInfo->executablePath(parent);
    if (!path || path->empty()) {
        return true;
    }
    for (const auto& ending : words().launchServicePathEndings) {
        if (!ending.empty() && path->ends_with(ending)) {
            return false;
        }
    }
    return true;
}

void run(std::ostream& out) {
    const auto& processInfo = platform().processInfo;
    print(out, "Orvane diagnostics\n");
    const std::string identifier = processInfo ? processInfo->applicationId() : "";
    print(out, "bundle id:   " + (identifier.empty() ? std::string("none") : identifier));
    print(out, "bundle path: " + (processInfo ? processInfo->ownExecutablePath() : std::string()));
    if (const auto& absent = platform().absentFeatures; !absent.empty()) {
        std::string list;
        for (const auto& feature : absent) {
            list += (list.empty() ? "" : ", ") + feature;
        }
        print(out, "built without: " + list);
    }

    // Said first: where focus cannot be moved at all, nothing below makes Orvane work.
    const std::string& unsupported = platform().unsupportedSession;
    if (!unsupported.empty()) {
        print(out, "\nsession:       UNSUPPORTED  ← see below");
    }
    // Where windows are reached through a helper inside the desktop, nothing works without it.
    if (const auto& bridge = platform().desktopBridge) {
        const auto state = bridge->state();
        print(out, "\nsession:       " + state.sessionKind + ", " + state.desktop);
        std::string about =
            state.bridgeVersion ? "version " + std::to_string(*state.bridgeVersion) : std::string();
        if (!state.bridgeId.empty()) {
            about += (about.empty() ? "" : ", ") + state.bridgeId;
        }
        print(out, "bridge:        " + DesktopBridgeText::word(state.status) +
                       (about.empty() ? std::string() : " (" + about + ")"));
        print(out, "  " + DesktopBridgeText::describe(state));
    }
    if (const auto& monitor = platform().inputMonitor) {
        if (const auto reduced = monitor->reducedGuards(); !reduced.empty()) {
            print(out, "guards:        REDUCED");
            print(out, "  " + reduced);
        }
    }
    // Where the chord is the desktop's to give (its shortcuts, its config), and wherever it is
    // another program's.
    if (const auto& hotKeys = platform().hotKeys) {
        const auto taken = hotKeys->takenBy(PauseHotKey::key, PauseHotKey::modifiers);
        if (platform().desktopBridge || !taken.empty()) {
            print(out,
                  "pause hot key: " + hotKeys->describe(PauseHotKey::key, PauseHotKey::modifiers) +
                      (taken.empty() ? std::string() : "  TAKEN by " + taken));
        }
    }
    print(out, std::string(unsupported.empty() && !platform().desktopBridge ? "\n" : "") +
                   "camera:        " + cameraPermission());
    // Only where permissions follow the launching process does a terminal parent matter.
    const bool misleading = words().permissionsFollowLauncher && isLaunchedFromTerminal();
    print(out, std::string("accessibility: ") + (isTrusted() ? "trusted" : "NOT TRUSTED") +
                   (misleading ? "  ← see warning below" : ""));
    // Where the desktop shows too little input, whether the guards may read the devices.
    if (const auto& devices = platform().inputDevices) {
        const auto readability = devices->readability();
        print(out, std::string("input devices: ") +
                       (Prefs::shared().readInputDevices() ? "turned on" : "off") +
                       " in Settings, " + (readability.readable ? "readable" : "NOT READABLE"));
        if (!readability.readable) {
            print(out, "  " + readability.reason);
        }
    }
    // Trusted, yet some programs' windows cannot be reached until they are restarted.
    if (const auto advice = UnreachablePrograms::restartAdvice(UnreachablePrograms::list());
        !advice.empty()) {
        print(out, "  " + advice);
    }
    // A window manager that would not follow a switch, as the running Orvane last saw it.
    if (const auto refusal = FocusRefusals::latest()) {
        print(out, "focus refused: " + *refusal);
    }
    // What the secure-input guard cannot tell, rather than a hold the user would trust blindly.
    if (const auto limits = PasswordPrompts::limits(); !limits.empty()) {
        print(out, "password prompts:");
        for (const auto& sentence : limits) {
            print(out, "  " + sentence);
        }
    }

    printExposure(out);

    print(out, "\ncameras found:");
    for (const auto& camera : CameraCapture::availableCameras()) {
        print(out, "  " + camera.localizedName + "  [" + camera.uniqueID + "]");
    }

    print(out, "\nscreens:");
    for (const auto& screen : screens()) {
        const auto& frame = screen.frame;
        print(out, "  " + screen.localizedName + ": " + whole(frame.width) + "x" +
                       whole(frame.height) + " at (" + whole(frame.x) + "," + whole(frame.y) + ")");
    }

    // Loading the store reads the calibration file: the line says what we were doing if that
    // hangs or crashes.
    print(out, "\nreading calibration…");
    const auto& store = CalibrationStore::shared();
    const std::string layout = layoutNow();
    const bool ready = store.model() && store.layoutSignature() == layout;
    print(out, std::string("\ncalibration: ") + (ready ? "ready" : "not calibrated"));
    print(out, "  samples: " + std::to_string(store.samples().size()));
    if (const auto& model = store.model()) {
        print(out, "  mean error: " + whole(model->meanError) + " pt");
    }
    print(out, "  layout now:   " + layout);

    printGuards(out);

    if (misleading) {
        printBlock(out, words().launchedFromTerminalWarning);
    }
    if (!isTrusted()) {
        printBlock(out, words().notTrustedAdvice);
    }
    if (!unsupported.empty()) {
        printBlock(out, {"", unsupported});
    }
}

} // namespace orvane::Diagnostics
