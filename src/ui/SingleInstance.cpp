#include "ui/SingleInstance.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/InstanceHolder.hpp"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

namespace orvane::ui {
namespace {

const QString serviceName = QString::fromLatin1(kApplicationIdentifier);
const QString objectPath = QStringLiteral("/net/orvane/Orvane");
// A running Orvane answers at once; one that does not within this is hung or not Orvane.
constexpr int answerMilliseconds = 5000;
// An owner that is just quitting may hold the name a moment longer than it answers calls.
constexpr int handOverMilliseconds = 3000;
constexpr unsigned long retryMilliseconds = 50;

bool ownerIsGone(const QDBusError& error) {
    return error.type() == QDBusError::ServiceUnknown ||
           error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

} // namespace

SingleInstance::SingleInstance(std::function<void()> onActivate,
                               std::function<void()> onTogglePause, QObject* parent)
    : QObject(parent), onActivate_(std::move(onActivate)),
      onTogglePause_(std::move(onTogglePause)) {}

SingleInstance::~SingleInstance() {
    if (registered_) {
        auto bus = QDBusConnection::sessionBus();
        bus.unregisterService(serviceName);
        bus.unregisterObject(objectPath);
    }
}

SingleInstance::Claim SingleInstance::claim() {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return Claim::noSessionBus;
    }
    // The object goes up before the name, so a call arriving the moment we own it finds it.
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots)) {
        return Claim::noSessionBus;
    }
    const QDeadlineTimer deadline(handOverMilliseconds);
    for (;;) {
        if (bus.registerService(serviceName)) {
            registered_ = true;
            return Claim::first;
        }
        // Only an Orvane is asked to show itself: a squatter on the name would otherwise end
        // every start in silence.
        if (const auto owner = bus.interface()->servicePid(serviceName); owner.isValid()) {
            holder_ = static_cast<pid_t>(owner.value());
            const QString exe =
                QFileInfo(QStringLiteral("/proc/%1/exe").arg(holder_)).symLinkTarget();
            holderExecutable_ = exe.isEmpty() ? std::nullopt : std::optional(exe.toStdString());
            if (holderExecutable_ && !InstanceHolder::isOrvane(*holderExecutable_)) {
                bus.unregisterObject(objectPath);
                return Claim::heldByOther;
            }
        }
        const auto call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName,
                                                         QStringLiteral("Activate"));
        const auto reply = bus.call(call, QDBus::Block, answerMilliseconds);
        if (reply.type() == QDBusMessage::ReplyMessage) {
            bus.unregisterObject(objectPath);
            return Claim::handedOver;
        }
        // The owner quit between our two questions: the name is free again, or about to be.
        if (!ownerIsGone(QDBusError(reply)) || deadline.hasExpired()) {
            bus.unregisterObject(objectPath);
            return Claim::unanswered;
        }
        QThread::msleep(retryMilliseconds);
    }
}

SingleInstance::Toggle SingleInstance::askToTogglePause() {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return Toggle::noSessionBus;
    }
    const auto owner = bus.interface()->servicePid(serviceName);
    if (!owner.isValid()) {
        return Toggle::notRunning;
    }
    // Only an Orvane is asked: a program squatting on the name is told nothing.
    const QString exe =
        QFileInfo(QStringLiteral("/proc/%1/exe").arg(owner.value())).symLinkTarget();
    if (!exe.isEmpty() && !InstanceHolder::isOrvane(exe.toStdString())) {
        return Toggle::heldByOther;
    }
    const auto call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName,
                                                     QStringLiteral("TogglePause"));
    const auto reply = bus.call(call, QDBus::Block, answerMilliseconds);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return Toggle::toggled;
    }
    return ownerIsGone(QDBusError(reply)) ? Toggle::notRunning : Toggle::unanswered;
}

void SingleInstance::TogglePause() {
    if (onTogglePause_) {
        onTogglePause_();
    }
}

void SingleInstance::Activate() {
    if (onActivate_) {
        onActivate_();
    }
}

} // namespace orvane::ui
