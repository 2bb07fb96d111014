#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::linuxbackend {

class WaylandClient;

// Where Hyprland's windows are activated through the foreign-toplevel protocol, which needs
// no dispatch (whose syntax is the user's configuration language's).
class HyprlandToplevelSource {
public:
    enum class Outcome {
        sent,      // the matched toplevel's activation was read by Hyprland
        absent,    // no list of toplevels offered (or no connection)
        unmatched, // no toplevel is that window
        ambiguous, // without the mapping, several toplevels have its app id and title
        refused,   // matched, but the activation could not be sent or was not read in time
    };

    virtual ~HyprlandToplevelSource() = default;
    // Any thread: activates the toplevel of the window at IPC `address`, whose class and title
    // the IPC lists as `applicationId` and `title`.
    virtual Outcome activate(std::uint64_t address, const std::string& applicationId,
                             const std::string& title) = 0;
};

// Words for the log: why activation took this route.
const char* describe(HyprlandToplevelSource::Outcome outcome);

// One toplevel as the list tells of it, with the address Hyprland's mapping gave, if any.
struct ToplevelCandidate {
    std::uint64_t id = 0;
    std::string applicationId;
    std::string title;
    std::optional<std::uint64_t> address;
};

struct ToplevelMatch {
    HyprlandToplevelSource::Outcome outcome = HyprlandToplevelSource::Outcome::unmatched;
    std::uint64_t id = 0; // with `sent`: the toplevel to activate
};

// The toplevel of the window at `address`: with the mapping only the one it names, without it
// the one toplevel whose app id and title are the window's (compared as the list bounds them),
// never a guess among several.
ToplevelMatch matchToplevel(const std::vector<ToplevelCandidate>& candidates, bool mapping,
                            std::uint64_t address, std::string_view applicationId,
                            std::string_view title);

// The foreign-toplevel list and Hyprland's toplevel mapping on Orvane's Wayland connection.
class HyprlandToplevels : public HyprlandToplevelSource {
public:
    // How long an activation waits for Hyprland to read it.
    static constexpr std::chrono::milliseconds readTimeout{500};

    explicit HyprlandToplevels(std::shared_ptr<WaylandClient> client);
    ~HyprlandToplevels() override;
    HyprlandToplevels(const HyprlandToplevels&) = delete;
    HyprlandToplevels& operator=(const HyprlandToplevels&) = delete;

    Outcome activate(std::uint64_t address, const std::string& applicationId,
                     const std::string& title) override;

    class Part;

private:
    std::shared_ptr<WaylandClient> client_;
    std::shared_ptr<Part> part_;
};

} // namespace orvane::linuxbackend
