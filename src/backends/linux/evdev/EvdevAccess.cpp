#include "backends/linux/evdev/EvdevAccess.hpp"

#include "backends/linux/evdev/EvdevDeviceKind.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/input.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

constexpr const char* inputGroup = "input";
constexpr const char* addToGroup =
    "To allow it, run \"sudo usermod -aG input $USER\", then log out and back in.";

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

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

InputAccess assessInputAccess(const std::vector<InputNodeFacts>& nodes,
                              const UserGroupFacts& groups) {
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
    const std::string& owner = first.group;
    if (owner == inputGroup) {
        if (contains(groups.account, owner) && !contains(groups.session, owner)) {
            return {false, "You were added to the input group after this session began: log "
                           "out and back in to allow it."};
        }
        if (!contains(groups.session, owner)) {
            return {false, std::string("You are not in the input group, which may read the "
                                       "keyboards. ") +
                               addToGroup};
        }
    }
    return {false, "The keyboards belong to the group \"" + owner +
                       "\" and this session may not read them; a udev rule that gives you read "
                       "access to them would allow it."};
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

UserGroupFacts userGroupFacts() {
    UserGroupFacts facts;
    std::vector<gid_t> session(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    const int count = ::getgroups(static_cast<int>(session.size()), session.data());
    session.resize(static_cast<std::size_t>(std::max(0, count)));
    session.push_back(::getegid());
    for (const gid_t gid : session) {
        facts.session.push_back(groupName(gid));
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* user = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &user) == 0 && user) {
        int size = 64;
        std::vector<gid_t> account(static_cast<std::size_t>(size));
        if (::getgrouplist(user->pw_name, user->pw_gid, account.data(), &size) < 0) {
            account.resize(static_cast<std::size_t>(size));
            ::getgrouplist(user->pw_name, user->pw_gid, account.data(), &size);
        }
        account.resize(static_cast<std::size_t>(std::max(0, size)));
        for (const gid_t gid : account) {
            facts.account.push_back(groupName(gid));
        }
    }
    return facts;
}

InputAccess checkInputAccess() {
    return assessInputAccess(inputNodeFacts(), userGroupFacts());
}

} // namespace orvane::linuxbackend
