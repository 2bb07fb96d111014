#include "orvane/support/Relaunch.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"

#include <utility>

namespace orvane::Relaunch {
namespace {

std::function<void()>& terminateHandler() {
    static std::function<void()> handler;
    return handler;
}

} // namespace

void setTerminate(std::function<void()> terminate) {
    terminateHandler() = std::move(terminate);
}

std::vector<std::string> command(const std::string& executable, pid_t waitFor) {
    return {executable, afterFlag, std::to_string(waitFor)};
}

void now() {
    auto& processInfo = *platform().processInfo;
    const std::string executable = processInfo.ownExecutablePath();
    if (executable.empty()) {
        Log::error("relaunch failed: the running executable cannot be found");
        return;
    }
    // An argument vector, never a command text: a path holding a quote, a dollar sign or a
    // backquote must not be read by a shell. Waiting for us is the new copy's job, so it does
    // not start up next to this one.
    std::string failure;
    if (!processInfo.spawnDetached(command(executable, processInfo.processID()), &failure)) {
        Log::error("relaunch failed: " + failure);
        return;
    }
    Log::info("relaunching " + executable);
    // A copy of the handler: terminating may replace it.
    if (const auto terminate = terminateHandler()) {
        terminate();
    }
}

} // namespace orvane::Relaunch
