#pragma once

#include "orvane/platform/InputMonitor.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace orvane::linuxbackend {

// The platform's input monitor where another source of input may stand in for the desktop's
// own: monitors installed here go to the desktop's monitor, or to the replacement while one is
// in use, and move over when that changes, so that the guards need no restart.
//
// While the replacement is in use, one silent monitor stays on the desktop's: a desktop that
// samples the pointer only while someone watches keeps its pointer position fresh, which the
// clicks and moves of the replacement are placed by.
class CombinedInputMonitor : public InputMonitor {
public:
    explicit CombinedInputMonitor(std::shared_ptr<InputMonitor> desktop);
    ~CombinedInputMonitor() override;
    CombinedInputMonitor(const CombinedInputMonitor&) = delete;
    CombinedInputMonitor& operator=(const CombinedInputMonitor&) = delete;

    // Moves every monitor to `replacement` (null: back to the desktop's). False, with nothing
    // changed, when one of them could not be installed there.
    bool use(std::shared_ptr<InputMonitor> replacement);
    bool usesReplacement() const;

    std::optional<MonitorToken>
    addGlobalMonitor(std::uint64_t mask, std::function<void(const InputEvent&)> handler) override;
    void removeMonitor(MonitorToken token) override;
    // The source in use tells: the devices stand in for what the desktop does not show.
    std::string reducedGuards() const override;

private:
    struct Monitor {
        std::uint64_t mask;
        std::function<void(const InputEvent&)> handler;
        MonitorToken inner;
    };

    const std::shared_ptr<InputMonitor>& current() const;

    const std::shared_ptr<InputMonitor> desktop_;
    std::shared_ptr<InputMonitor> replacement_;
    mutable std::mutex mutex_;
    std::map<MonitorToken, Monitor> monitors_;
    MonitorToken nextToken_ = 1;
    std::optional<MonitorToken> keepWatching_; // on the desktop's, while replaced
};

} // namespace orvane::linuxbackend
