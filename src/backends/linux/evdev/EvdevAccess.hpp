#pragma once

#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

// One /dev/input/event* node as this process finds it.
struct InputNodeFacts {
    std::string path;
    bool keyboard = false; // from its capabilities in sysfs, readable by anyone
    bool readable = false; // this process may open it for reading
    int error = 0;         // why not (errno), when not
    std::string group;     // the node's group
};

// What decides whether the person at the seat may read the devices: Orvane's udev rule tags
// keyboards and pointers "uaccess", and logind then gives the user of the session active at
// that seat read access to them, for as long as it stays the active one.
struct SeatFacts {
    bool ruleInstalled = false; // the rule lies in a folder udev reads
    // This session is the active one at a seat; unknown where logind cannot tell.
    std::optional<bool> activeAtSeat;
};

// The rule, where the package puts it (switched off), and the folders udev reads rules from.
inline constexpr const char* inputRuleName = "70-orvane-input.rules";
#ifdef ORVANE_SHIPPED_INPUT_RULE
inline constexpr const char* shippedInputRule = ORVANE_SHIPPED_INPUT_RULE;
#else
inline constexpr const char* shippedInputRule = "/usr/share/orvane/70-orvane-input.rules";
#endif
inline constexpr const char* inputRuleFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                                   "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};

struct InputAccess {
    bool keyboardReadable = false;
    // When no keyboard is readable: why, and how to allow it, in one or two sentences.
    std::string reason;
};

// Whether any keyboard is readable and, when not, why.
InputAccess assessInputAccess(const std::vector<InputNodeFacts>& nodes, const SeatFacts& seat);

// The facts of this system: every event node in `devices` with its capabilities from `sysfs`
// (/sys/class/input); whether the rule is installed (in `ruleFolders`, udev's by default) and
// this session is the seat's active one (logind).
std::vector<InputNodeFacts> inputNodeFacts(const std::string& devices = "/dev/input",
                                           const std::string& sysfs = "/sys/class/input");
SeatFacts seatFacts(const std::vector<std::string>& ruleFolders = {std::begin(inputRuleFolders),
                                                                   std::end(inputRuleFolders)});

// Both together, for Settings and --diagnose.
InputAccess checkInputAccess();

} // namespace orvane::linuxbackend
