#include "orvane/platform/Platform.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace orvane {
namespace {

std::mutex installMutex;
std::shared_ptr<Platform> installed;
std::atomic<std::uint64_t> generation{0};

std::shared_ptr<Platform> exchangeInstalled(std::shared_ptr<Platform> next) {
    std::lock_guard lock(installMutex);
    generation.fetch_add(1);
    return std::exchange(installed, std::move(next));
}

} // namespace

Platform& platform() {
    std::lock_guard lock(installMutex);
    if (!installed) {
        std::fputs("orvane: no platform installed\n", stderr);
        std::abort();
    }
    return *installed;
}

bool hasPlatform() {
    std::lock_guard lock(installMutex);
    return installed != nullptr;
}

std::uint64_t platformGeneration() {
    return generation.load();
}

std::shared_ptr<LogSink> currentLogSink() {
    std::lock_guard lock(installMutex);
    return installed ? installed->logSink : nullptr;
}

void logPlatformError(const std::string& text) {
    if (auto sink = currentLogSink()) {
        sink->write(LogLevel::error, kApplicationIdentifier, "core", text);
    } else {
        std::fprintf(stderr, "orvane error: %s\n", text.c_str());
    }
}

PlatformInstallation::PlatformInstallation(std::shared_ptr<Platform> services)
    : previous_(exchangeInstalled(std::move(services))) {}

PlatformInstallation::~PlatformInstallation() {
    exchangeInstalled(std::move(previous_));
}

} // namespace orvane
