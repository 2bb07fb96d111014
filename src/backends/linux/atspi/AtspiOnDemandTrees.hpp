#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/types.h>

namespace orvane::linuxbackend {

// Chromium (and the browsers and apps built on it) joins the accessibility bus when the bus is
// switched on, but builds its pages' accessible trees only once an assistive program asks one
// of its objects for its attributes or relations, as screen readers do first; until then a
// focused password field on a page is invisible. Asking its application object once, when
// one of its windows takes focus, makes it build them as it would for a screen reader. The
// asking is the AT-SPI worker's: the main thread only decides when, and never waits.
class AtspiOnDemandTrees {
public:
    AtspiOnDemandTrees();

    // For the process `pid` whose window has focus. Costs nothing for a process already seen;
    // a process not on the bus yet (just started) is looked for again every so often. Main
    // thread.
    void wake(pid_t pid);

    // The toolkit name such programs give their application object.
    static constexpr const char* toolkit = "Chromium";
    static constexpr int recheckEvery = 30;
    static constexpr int looksAtMost = 10;
    static constexpr std::size_t maxSeen = 512;

private:
    struct Seen {
        int looks = 0;
        int sinceLook = 0;
    };
    std::map<pid_t, Seen> seen_;
    // The processes found on the bus (and asked, where they needed it), told by the worker.
    struct Found {
        std::mutex mutex;
        std::set<pid_t> pids;
    };
    std::shared_ptr<Found> found_;
};

} // namespace orvane::linuxbackend
