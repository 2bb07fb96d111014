#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// What one run of the program is for, read from its argument list (program path first).
struct LaunchMode {
    enum class Kind { application, probeCamera, diagnose, togglePause };

    Kind kind = Kind::application;
    std::int64_t probeSeconds = defaultProbeSeconds;
    // "--after PID" (a relaunched copy): the application starts once that process has ended.
    // Set only for the application, and only to a positive number.
    std::optional<std::int64_t> afterProcess;
    // "--report-gaze": the application also writes what it sees and does to standard output,
    // a line a second (for demonstrations and recorded runs; not advertised).
    bool reportsGaze = false;

    static constexpr std::int64_t defaultProbeSeconds = 8;

    // "--probe-camera [N]" wins wherever it stands; then "--diagnose"; then "--toggle-pause"
    // (asks the running Orvane to pause or resume, for a compositor's key binding); anything
    // else starts
    // the application. Flags match whole and case-sensitively; N is a whole decimal number
    // (optional sign, digits only, within 64 bits), else the default. "--after" takes the next
    // argument when it is a whole positive number and is ignored otherwise.
    static LaunchMode parse(const std::vector<std::string>& arguments);
};

} // namespace orvane
