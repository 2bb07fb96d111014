#include "orvane/support/InstanceHolder.hpp"

#include "orvane/platform/Platform.hpp"

#include <string_view>

namespace orvane::InstanceHolder {
namespace {

constexpr std::string_view replacedMark = " (deleted)";

std::string owner(pid_t pid, const std::optional<std::string>& executable) {
    return (executable && !executable->empty() ? *executable : std::string("a program")) +
           " (pid " + std::to_string(pid) + ")";
}

} // namespace

bool isOrvane(const std::string& executable) {
    std::string_view path = executable;
    if (path.ends_with(replacedMark)) {
        path.remove_suffix(replacedMark.size());
    }
    const auto slash = path.rfind('/');
    return path.substr(slash == std::string_view::npos ? 0 : slash + 1) == "orvane";
}

std::string describe(std::optional<pid_t> pid, const std::optional<std::string>& executable) {
    if (!pid) {
        return "free (no Orvane runs)";
    }
    if (executable && isOrvane(*executable)) {
        return "held by Orvane (pid " + std::to_string(*pid) + ")";
    }
    return "HELD BY " + owner(*pid, executable) + ", which is not Orvane";
}

std::string heldByAnotherProgram(pid_t pid, const std::optional<std::string>& executable) {
    return std::string("Orvane's name on the session bus (") + kApplicationIdentifier +
           ") is held by " + owner(pid, executable) +
           ", which is not Orvane. Orvane does not start beside it: end that program, then "
           "start Orvane again.";
}

} // namespace orvane::InstanceHolder
