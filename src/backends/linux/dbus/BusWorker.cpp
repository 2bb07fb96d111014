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

std::shared_ptr<MainQueue> resultQueue(const std::shared_ptr<MainQueue>& given) {
    if (given) {
        return given;
    }
    return hasPlatform() ? platform().mainQueue : nullptr;
}

} // namespace orvane::linuxbackend
