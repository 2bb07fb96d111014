#include "backends/linux/runtime/QtMainQueue.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace orvane::linuxbackend {
namespace {

int milliseconds(double seconds) {
    // QTimer takes an int; a day is far beyond any interval the system asks for.
    return static_cast<int>(std::clamp(std::ceil(seconds * 1000.0), 0.0, 86'400'000.0));
}

void onMainThread(Task task) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

} // namespace

QtMainQueue::QtMainQueue(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(Task task) {
    onMainThread(std::move(task));
}

TimerHandle QtMainQueue::after(double seconds, Task task) {
    auto handle = std::make_shared<Cancellation>();
    // Timers belong to the main thread: create them there, whoever asks.
    onMainThread([handle, seconds, task = std::move(task)]() mutable {
        if (handle->isCancelled()) {
            return;
        }
        QTimer::singleShot(milliseconds(seconds), Qt::PreciseTimer, QCoreApplication::instance(),
                           [handle, task = std::move(task)] {
                               if (!handle->isCancelled() && task) {
                                   task();
                               }
                           });
    });
    return handle;
}

TimerHandle QtMainQueue::repeating(double interval, double tolerance, Task task) {
    auto handle = std::make_shared<Cancellation>();
    onMainThread([handle, interval, tolerance, task = std::move(task)]() mutable {
        if (handle->isCancelled()) {
            return;
        }
        auto* timer = new QTimer(QCoreApplication::instance());
        // A coarse timer may fire up to 5 % late, which lets the system batch wake-ups.
        timer->setTimerType(tolerance > 0 ? Qt::CoarseTimer : Qt::PreciseTimer);
        timer->setInterval(std::max(milliseconds(interval), 1));
        QObject::connect(timer, &QTimer::timeout, timer, [timer, handle, task = std::move(task)] {
            if (handle->isCancelled()) {
                timer->stop();
                timer->deleteLater();
                return;
            }
            if (task) {
                task();
            }
        });
        timer->start();
    });
    return handle;
}

void QtMainQueue::runUntil(double deadline) {
    QEventLoop loop;
    QEventLoop* outer = std::exchange(loop_, &loop);
    QTimer::singleShot(milliseconds(deadline - clock_->monotonic()), Qt::PreciseTimer, &loop,
                       [&loop] { loop.quit(); });
    loop.exec();
    loop_ = outer;
}

void QtMainQueue::stop() {
    onMainThread([this] {
        if (loop_) {
            loop_->quit();
        }
    });
}

} // namespace orvane::linuxbackend
