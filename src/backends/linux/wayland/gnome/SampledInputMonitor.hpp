#pragma once

#include "orvane/platform/InputMonitor.hpp"
#include "orvane/platform/Subscription.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace orvane::linuxbackend {

class CompositorLink;
class PostedKeys;
struct CompositorInput;

// Input events derived from the compositor's input samples, which hold the pointer, its buttons and
// modifiers, and the time since the last input of any device: a move is a mouseMoved (dragged
// while a button is held), a button going down a click, a modifier change a flagsChanged, and
// the idle time dropping with nothing else changed a key press. Samples are asked for while
// any monitor is installed. Handlers run on the main thread.
class SampledInputMonitor : public InputMonitor {
public:
    static constexpr unsigned sampleMilliseconds = 66;
    // How much later than the one before a sample may arrive on the bus: input dated by its
    // arrival is new only past that.
    static constexpr double deliveryJitterMilliseconds = 25;

    SampledInputMonitor(std::shared_ptr<CompositorLink> link, std::shared_ptr<PostedKeys> posted);
    ~SampledInputMonitor() override;

    std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;

    // The events one sample makes after `previous` (for the first sample, only the modifiers
    // held). Modifier changes are told against `reportedFlags`, the flags last told, so a
    // change left untold while keys were ours is told with the next sample that is not.
    static std::vector<InputEvent> derive(const std::optional<CompositorInput>& previous,
                                          const CompositorInput& sample, bool keysAreOurs,
                                          std::uint64_t reportedFlags = 0);

private:
    struct Monitor {
        std::uint64_t mask;
        std::function<void(const InputEvent&)> handler;
    };

    void handle(const CompositorInput& sample);

    std::shared_ptr<CompositorLink> link_;
    std::shared_ptr<PostedKeys> posted_;
    std::map<MonitorToken, Monitor> monitors_;
    MonitorToken nextToken_ = 1;
    std::unique_ptr<CompositorInput> previous_;
    std::uint64_t reportedFlags_ = 0;
    Subscription samples_;
};

} // namespace orvane::linuxbackend
