#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace orvane::linuxbackend {

// Which programs on the accessibility bus stopped answering. A program that missed an answer
// is skipped (asked nothing) until a probe in the background sees it answer again; probes come
// ever less often while it stays silent, so a stopped program costs the worker one short
// timeout now and then and the main thread nothing. Times are monotonic seconds, given by the
// caller. Thread-safe: the main thread marks and checks, the worker probes.
class AtspiResponsiveness {
public:
    // The first probe after a miss, and the longest wait between two.
    static constexpr double firstProbeAfter = 0.5;
    static constexpr double longestProbeInterval = 8.0;

    // `pid` did not answer in time.
    void missed(pid_t pid, double now);
    // `pid` answered: asked again from now on.
    void answered(pid_t pid);
    // True while `pid` is skipped.
    bool isSkipped(pid_t pid) const;
    // The skipped programs whose probe is due; each is due again only after its next interval.
    std::vector<pid_t> dueForProbe(double now);
    // Programs that are gone are forgotten.
    void forget(pid_t pid);
    std::size_t skippedCount() const;

private:
    struct Silence {
        double nextProbe = 0;
        double interval = firstProbeAfter;
    };
    mutable std::mutex mutex_;
    std::map<pid_t, Silence> silent_;
};

// The last answer to a question asked per frame (is a menu open in this program?), kept so the
// main thread reads it instead of asking: the worker refreshes it when it is older than
// `maxAge`, one refresh per key at a time. Thread-safe.
template <typename Key, typename Value> class AtspiAnswerCache {
public:
    explicit AtspiAnswerCache(double maxAge) : maxAge_(maxAge) {}

    struct Read {
        std::optional<Value> value; // nullopt: nothing known yet
        bool refresh = false;       // the caller should have the worker ask again
    };

    // The known answer for `key`; asks for one refresh when it is stale or missing and none is
    // under way.
    Read read(const Key& key, double now) {
        std::lock_guard lock(mutex_);
        auto& entry = entries_[key];
        Read result{entry.value, false};
        const bool stale = !entry.value || now - entry.at >= maxAge_ || now < entry.at;
        if (stale && !entry.pending) {
            entry.pending = true;
            result.refresh = true;
        }
        return result;
    }

    // The worker's answer, asked at `at`; nullopt when it could not be had (the old answer
    // stays, and the next read asks again).
    void store(const Key& key, std::optional<Value> value, double at) {
        std::lock_guard lock(mutex_);
        auto& entry = entries_[key];
        entry.pending = false;
        if (value) {
            entry.value = std::move(value);
            entry.at = at;
        }
    }

    void clear() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

private:
    struct Entry {
        std::optional<Value> value;
        double at = 0;
        bool pending = false;
    };
    std::mutex mutex_;
    double maxAge_;
    std::map<Key, Entry> entries_;
};

} // namespace orvane::linuxbackend
