// The settings file as the Linux backend reads it: any bytes in Orvane.conf give settings
// within range, and a value saved over them reads back after a reopen.
#include "FuzzChecks.hpp"
#include "backends/linux/QSettingsPreferences.hpp"
#include "orvane/support/Prefs.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using namespace orvane;

using fuzz::require;

// Never destroyed, so that the clean-up at exit can still use it.
const std::filesystem::path& directory() {
    static const auto* path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvane-settings-fuzz-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "no temporary directory");
        return new std::filesystem::path(pattern);
    }();
    static const bool cleanUp = std::atexit([] { std::filesystem::remove_all(*path); }) == 0;
    (void)cleanUp;
    return *path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A new name for every input: QSettings keeps what it parsed of a file by its name.
    static std::uint64_t serial = 0;
    const auto file = (directory() / ("Orvane-" + std::to_string(++serial) + ".conf")).string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const auto ignore = [](const std::string&) {
    };
    {
        const Prefs prefs(std::make_shared<linuxbackend::QSettingsPreferences>(file, ignore));
        fuzz::requireReadsInRange(prefs);
        prefs.defaults().setInteger(PrefKey::settleMilliseconds, 450);
    }
    {
        const Prefs reopened(std::make_shared<linuxbackend::QSettingsPreferences>(file, ignore));
        require(reopened.settleMilliseconds() == 450, "a saved value does not read back");
    }
    std::filesystem::remove_all(directory());
    std::filesystem::create_directory(directory());
    return 0;
}
