#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace orvane::ui {

// One Orvane per desktop session, by a well-known name on the session bus: whoever owns
// kApplicationIdentifier is the running Orvane. A later start asks the owner to show itself
// and ends. The bus drops the name of a process that dies, so a crash leaves nothing stale
// behind, and claiming it is atomic, so two starts at the same moment cannot both win.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.orvane.Orvane")

public:
    enum class Claim {
        // The name is ours: carry on starting up.
        first,
        // Another Orvane runs and was asked to show itself.
        handedOver,
        // Another Orvane holds the name and did not answer.
        unanswered,
        // A program that is not Orvane holds the name (`holder()` says which): it is not asked
        // anything, and we do not start beside it.
        heldByOther,
        // There is no session bus: nothing can be checked.
        noSessionBus,
    };

    // `onActivate` runs on the main thread when a later start asks us to show ourselves,
    // `onTogglePause` when "orvane --toggle-pause" asks us to pause or resume.
    explicit SingleInstance(std::function<void()> onActivate,
                            std::function<void()> onTogglePause = {}, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Claims the name, or hands over to its owner. Blocks for at most a few seconds.
    Claim claim();

    enum class Toggle { toggled, notRunning, unanswered, heldByOther, noSessionBus };
    // Asks the running Orvane to pause or resume, without claiming anything. Blocks for at
    // most a few seconds.
    static Toggle askToTogglePause();

    // The process that held the name at the last claim, and its executable where readable.
    pid_t holder() const { return holder_; }
    const std::optional<std::string>& holderExecutable() const { return holderExecutable_; }

public slots:
    // Called over the bus by a later start.
    Q_SCRIPTABLE void Activate();
    // Called over the bus by "orvane --toggle-pause" (a key binding of the user's).
    Q_SCRIPTABLE void TogglePause();
    // Answers at once, from the main thread: whether that thread is free to answer.
    Q_SCRIPTABLE void Ping() {}

private:
    std::function<void()> onActivate_;
    std::function<void()> onTogglePause_;
    bool registered_ = false;
    pid_t holder_ = 0;
    std::optional<std::string> holderExecutable_;
};

} // namespace orvane::ui
