#pragma once

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

// Which groups the user is in: this session's (fixed at login) and the account's now.
struct UserGroupFacts {
    std::vector<std::string> session;
    std::vector<std::string> account;
};

struct InputAccess {
    bool keyboardReadable = false;
    // When no keyboard is readable: why, and how to allow it, in one or two sentences.
    std::string reason;
};

// Whether any keyboard is readable and, when not, why.
InputAccess assessInputAccess(const std::vector<InputNodeFacts>& nodes,
                              const UserGroupFacts& groups);

// The facts of this system: every event node in `devices` with its capabilities from `sysfs`
// (/sys/class/input), and this process's and its user's groups.
std::vector<InputNodeFacts> inputNodeFacts(const std::string& devices = "/dev/input",
                                           const std::string& sysfs = "/sys/class/input");
UserGroupFacts userGroupFacts();

// Both together, for Settings and --diagnose.
InputAccess checkInputAccess();

} // namespace orvane::linuxbackend
