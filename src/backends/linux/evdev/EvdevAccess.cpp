#include "backends/linux/evdev/EvdevAccess.hpp"

#include "backends/linux/evdev/EvdevDeviceKind.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <systemd/sd-login.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string groupName(gid_t gid) {
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        return found->gr_name;
    }
    return std::to_string(gid);
}

} // namespace

InputAccess assessInputAccess(const std::vector<InputNodeFacts>& nodes, const SeatFacts& seat) {
    if (nodes.empty()) {
        return {false, "No input devices are visible to Orvane here (/dev/input is empty or "
                       "missing, as in a sandbox)."};
    }
    std::vector<const InputNodeFacts*> keyboards;
    for (const auto& node : nodes) {
        if (node.keyboard) {
            if (node.readable) {
                return {true, {}};
            }
            keyboards.push_back(&node);
        }
    }
    if (keyboards.empty()) {
        return {false, "No keyboard was found among the input devices."};
    }
    const InputNodeFacts& first = *keyboards.front();
    if (first.error != EACCES && first.error != EPERM && first.error != 0) {
        return {false,
                "The keyboards cannot be read: " + std::string(std::strerror(first.error)) + "."};
    }
    if (!seat.ruleInstalled) {
        return {false, std::string("Orvane's udev rule (") + inputRuleName +
                           ") is not switched on. It lets the programs of whoever sits at this "
                           "computer read its keyboards and mice while they sit there. To switch "
                           "it on: sudo ln -s " +
                           shippedInputRule +
                           " /etc/udev/rules.d/ && sudo udevadm trigger "
                           "--subsystem-match=input --action=change"};
    }
    if (seat.activeAtSeat == false) {
        return {false, "This session is not the one at this computer's screen and keyboard (a "
                       "remote session, or one switched away from): only that one may read "
                       "them."};
    }
    return {false, "Orvane's udev rule is installed but has not reached the devices yet: restart "
                   "the computer, or run \"sudo udevadm trigger --subsystem-match=input "
                   "--action=change\"."};
}

std::vector<InputNodeFacts> inputNodeFacts(const std::string& devices, const std::string& sysfs) {
    std::vector<InputNodeFacts> facts;
    DIR* directory = ::opendir(devices.c_str());
    if (!directory) {
        return facts;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.rfind("event", 0) != 0) {
            continue;
        }
        InputNodeFacts node;
        node.path = devices + "/" + name;
        const std::string capabilities = sysfs + "/" + name + "/device/capabilities/";
        const auto key = parseCapabilityMask(readLine(capabilities + "key"));
        const auto rel = parseCapabilityMask(readLine(capabilities + "rel"));
        const auto abs = parseCapabilityMask(readLine(capabilities + "abs"));
        const auto properties =
            parseCapabilityMask(readLine(sysfs + "/" + name + "/device/properties"));
        const auto bit = [](const std::vector<bool>& bits, unsigned code) {
            return code < bits.size() && bits[code];
        };
        node.keyboard = classifyDevice(
                            [&](unsigned type, unsigned code) {
                                return type == EV_KEY   ? bit(key, code)
                                       : type == EV_REL ? bit(rel, code)
                                       : type == EV_ABS ? bit(abs, code)
                                                        : false;
                            },
                            [&](unsigned property) { return bit(properties, property); })
                            .keyboard;
        node.readable = ::faccessat(AT_FDCWD, node.path.c_str(), R_OK, AT_EACCESS) == 0;
        node.error = node.readable ? 0 : errno;
        struct stat status {};
        if (::stat(node.path.c_str(), &status) == 0) {
            node.group = groupName(status.st_gid);
        }
        facts.push_back(std::move(node));
    }
    ::closedir(directory);
    std::sort(facts.begin(), facts.end(),
              [](const InputNodeFacts& a, const InputNodeFacts& b) { return a.path < b.path; });
    return facts;
}

SeatFacts seatFacts(const std::vector<std::string>& ruleFolders) {
    SeatFacts facts;
    for (const auto& folder : ruleFolders) {
        // A rule of the same name in /etc masks the package's; an empty one (or a link to
        // /dev/null) is how udev is told to ignore it.
        struct stat status {};
        const std::string path = folder + "/" + inputRuleName;
        if (::stat(path.c_str(), &status) == 0) {
            facts.ruleInstalled = S_ISREG(status.st_mode) && status.st_size > 0;
            break;
        }
    }
    char* session = nullptr;
    if (sd_pid_get_session(0, &session) >= 0 && session) {
        const int active = sd_session_is_active(session);
        char* seat = nullptr;
        const bool seated = sd_session_get_seat(session, &seat) >= 0 && seat;
        std::free(seat);
        if (active >= 0) {
            facts.activeAtSeat = active > 0 && seated;
        }
    }
    std::free(session);
    return facts;
}

InputAccess checkInputAccess() {
    return assessInputAccess(inputNodeFacts(), seatFacts());
}

} // namespace orvane::linuxbackend
