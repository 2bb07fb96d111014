#include "backends/linux/dbus/BusWorker.hpp"

#include "backends/linux/BackendLog.hpp"
#include "orvane/platform/Platform.hpp"

#include <systemd/sd-event.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace orvane::linuxbackend {

BusWorker::BusWorker(std::string whenDown) : whenDown_(std::move(whenDown)) {}

BusWorker::~BusWorker() {
    stop();
}

bool BusWorker::start(std::function<void(BusLoop&)> body,
                      std::function<void(const std::string&)> failed) {
    body_ = std::move(body);
    failed_ = std::move(failed);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        fail(std::strerror(errno));
        return false;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& error) {
        fail(error.what());
        return false;
    }
    return true;
}

void BusWorker::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    std::lock_guard lock(mutex_);
    tasks_.clear();
}

bool BusWorker::post(std::function<void()> task) {
    if (!thread_.joinable() || stopping_) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    return true;
}

void BusWorker::fail(const std::string& problem) {
    logInfo(whenDown_ + ": " + problem);
    if (failed_) {
        failed_(problem);
    }
}

int BusWorker::onWake(sd_event_source* source, int fd, std::uint32_t, void* userdata) {
    auto& worker = *static_cast<BusWorker*>(userdata);
    std::uint64_t count = 0;
    [[maybe_unused]] auto n = ::read(fd, &count, sizeof count);
    if (worker.stopping_) {
        sd_event_exit(sd_event_source_get_event(source), 0);
        return 0;
    }
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard lock(worker.mutex_);
        tasks.swap(worker.tasks_);
    }
    for (auto& task : tasks) {
        task();
    }
    return 0;
}

void BusWorker::run() {
    sd_event* event = nullptr;
    int r = sd_event_new(&event);
    if (r >= 0) {
        r = sd_event_add_io(event, nullptr, wakeFd_, EPOLLIN, &BusWorker::onWake, this);
    }
    if (r < 0) {
        sd_event_unref(event);
        fail(std::strerror(-r));
        return;
    }
    {
        BusLoop loop(event);
        body_(loop);
    }
    sd_event_unref(event);
}

int BusLoop::run() {
    return sd_event_loop(event_);
}

void BusLoop::exit() {
    sd_event_exit(event_, 0);
}

std::uint64_t BusLoop::now() const {
    std::uint64_t now = 0;
    sd_event_now(event_, CLOCK_MONOTONIC, &now);
    return now;
}

BusTimer::BusTimer(BusLoop& loop, std::function<void()> fire)
    : loop_(loop), fire_(std::move(fire)) {}

BusTimer::~BusTimer() {
    sd_event_source_disable_unref(source_);
}

void BusTimer::arm(std::uint64_t microseconds, int mode) {
    const std::uint64_t at = loop_.now() + microseconds;
    if (!source_) {
        const int r = sd_event_add_time(loop_.event(), &source_, CLOCK_MONOTONIC, at, 0,
                                        &BusTimer::onTime, this);
        if (r < 0) {
            source_ = nullptr;
            logInfo(std::string("a D-Bus worker's timer cannot be set: ") + std::strerror(-r));
            return;
        }
    } else {
        sd_event_source_set_time(source_, at);
    }
    sd_event_source_set_enabled(source_, mode);
}

void BusTimer::once(std::uint64_t microseconds) {
    period_ = 0;
    arm(microseconds, SD_EVENT_ONESHOT);
}

void BusTimer::every(std::uint64_t microseconds) {
    period_ = microseconds;
    arm(microseconds, SD_EVENT_ONESHOT);
}

void BusTimer::cancel() {
    if (source_) {
        sd_event_source_set_enabled(source_, SD_EVENT_OFF);
    }
}

bool BusTimer::isArmed() const {
    int enabled = SD_EVENT_OFF;
    return source_ && sd_event_source_get_enabled(source_, &enabled) >= 0 &&
           enabled != SD_EVENT_OFF;
}

int BusTimer::onTime(sd_event_source*, std::uint64_t, void* userdata) {
    auto& timer = *static_cast<BusTimer*>(userdata);
    if (timer.period_ > 0) {
        // Rearmed first, so that `fire` may cancel or rearm it.
        timer.arm(timer.period_, SD_EVENT_ONESHOT);
    }
    timer.fire_();
    return 0;
}

std::shared_ptr<MainQueue> resultQueue(const std::shared_ptr<MainQueue>& given) {
    if (given) {
        return given;
    }
    return hasPlatform() ? platform().mainQueue : nullptr;
}

} // namespace orvane::linuxbackend
