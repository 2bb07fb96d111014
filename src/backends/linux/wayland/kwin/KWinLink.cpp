#include "backends/linux/wayland/kwin/KWinLink.hpp"

#include "backends/linux/BackendLog.hpp"
#include "backends/linux/dbus/BusConnection.hpp"
#include "backends/linux/dbus/BusTimer.hpp"
#include "backends/linux/session/KWinEffectsPoll.hpp"
#include "backends/linux/wayland/kwin/KWinCommandChannel.hpp"
#include "backends/linux/wayland/kwin/KWinScriptHost.hpp"

#include <algorithm>
#include <cstring>
#include <future>

namespace orvane::linuxbackend {
namespace {

constexpr const char* kwinService = "org.kde.KWin";
constexpr auto shortcutTimeout = std::chrono::seconds(3);
// The script asks again at once after each answer; this long without a question, it is gone
// (KWin dropped it, or it took Orvane for gone) and is loaded again.
constexpr std::uint64_t scriptSilence = KWinLink::pollHoldMicroseconds + 5'000'000;
constexpr std::uint64_t silenceCheckInterval = 1'000'000;

} // namespace

// The worker's side of the link: its connection, and the parts that keep the script running,
// talk with it, read KWin's effects and hold Orvane's shortcuts. Created, used and destroyed
// on the worker thread only.
class KWinLoop {
public:
    KWinLoop(KWinLinkState& state, BusLoop& loop)
        : state_(state), loop_(loop), bus_(loop, BusKind::session, [this] { lost(); }),
          shortcuts_(bus_, [this](CompositorEvent event) { state_.post(std::move(event)); }),
          host_(bus_, loop, state,
                {.attaching = [this] { channel_.restart(); },
                 .loaded =
                     [this] {
                         channel_.heard();
                         effects_.start();
                         silence_.every(silenceCheckInterval);
                     },
                 .detaching =
                     [this] {
                         channel_.release();
                         effects_.stop();
                         silence_.cancel();
                     }}),
          channel_(bus_, loop, state, host_),
          effects_(bus_, loop, [this](std::optional<bool> overview) { onEffects(overview); }),
          silence_(loop, [this] { checkSilence(); }) {
        // Flushed on closing, so that the script's unloading still goes.
        bus_.flushOnClose();
    }

    KWinLoop(const KWinLoop&) = delete;
    KWinLoop& operator=(const KWinLoop&) = delete;

    bool start() {
        if (!bus_.opened()) {
            return fail(std::string("the session bus is unavailable (") +
                        std::strerror(-bus_.openError()) + ")");
        }
        int r = channel_.serve();
        const char* unique = nullptr;
        if (r >= 0) {
            r = sd_bus_get_unique_name(bus_.bus(), &unique);
        }
        if (r < 0) {
            return fail(std::string("the session bus is unavailable (") + std::strerror(-r) + ")");
        }
        r = sd_bus_request_name(bus_.bus(), KWinLink::busName, 0);
        if (r < 0) {
            return fail(std::string("cannot own ") + KWinLink::busName + " (" + std::strerror(-r) +
                        "): is another Orvane running?");
        }
        if (auto problem = host_.prepare(unique)) {
            return fail(*problem);
        }
        bus_.followOwners({kwinService, KWinShortcuts::service},
                          [this](const NameOwner& owner) { onOwner(owner); });
        return true;
    }

    void deliver() { channel_.deliver(); }
    KWinShortcuts& shortcuts() { return shortcuts_; }

private:
    bool fail(const std::string& problem) {
        state_.setProblem(problem);
        logInfo("KWin is not reached: " + problem);
        state_.markSettled();
        return false;
    }

    void onOwner(const NameOwner& owner) {
        const bool owned = !owner.after.empty();
        if (owner.name == KWinShortcuts::service) {
            // Its first answer finds nothing of ours there yet.
            if (owned && !owner.first) {
                shortcuts_.arrived();
            } else if (!owned) {
                shortcuts_.gone();
            }
            return;
        }
        if (owner.first && !owned) {
            state_.setProblem("KWin is not on the session bus");
            state_.markSettled();
            return;
        }
        if (!owner.before.empty()) {
            host_.detach();
        }
        if (owned) {
            host_.attach(owner.after);
        }
    }

    void onEffects(std::optional<bool> overview) {
        if (!overview) {
            return; // KWin did not say: what it said last stands
        }
        bool changed = false;
        {
            std::lock_guard lock(state_.mutex);
            changed = state_.snapshot.overviewActive != *overview;
            state_.snapshot.overviewActive = *overview;
        }
        if (changed && state_.isReady()) {
            state_.post({CompositorEvent::Kind::overviewChanged});
        }
    }

    void checkSilence() {
        if (host_.isLoaded() && channel_.isSilent(scriptSilence)) {
            logInfo("Orvane's KWin script stopped asking for commands: it is loaded again");
            const std::string kwin = host_.kwinOwner();
            host_.detach();
            host_.attach(kwin);
        }
    }

    void lost() {
        logInfo("session bus connection lost: KWin is no longer reached");
        host_.detach();
        loop_.exit();
    }

    KWinLinkState& state_;
    BusLoop& loop_;
    BusConnection bus_;
    KWinShortcuts shortcuts_;
    KWinScriptHost host_;
    KWinCommandChannel channel_;
    KWinEffectsPoll effects_;
    BusTimer silence_;
};

KWinLink::KWinLink(std::shared_ptr<MainQueue> mainQueue)
    : state_(std::make_unique<KWinLinkState>(std::move(mainQueue))) {
    worker_.start(
        [this](BusLoop& loop) {
            KWinLoop link(*state_, loop);
            if (link.start()) {
                running_ = &link;
                loop.run();
                running_ = nullptr;
            }
        },
        [this](const std::string& problem) {
            state_->setProblem(problem);
            state_->markSettled();
        });
}

KWinLink::~KWinLink() {
    worker_.stop();
}

CompositorSnapshot KWinLink::snapshot() const {
    return state_->current();
}

std::string KWinLink::pluginName() const {
    std::lock_guard lock(state_->mutex);
    return state_->pluginName;
}

std::string KWinLink::scriptFile() const {
    std::lock_guard lock(state_->mutex);
    return state_->scriptFile;
}

bool KWinLink::scriptLoaded() const {
    std::lock_guard lock(state_->mutex);
    return state_->scriptLoaded;
}

std::string KWinLink::problem() const {
    std::lock_guard lock(state_->mutex);
    return state_->problem;
}

bool KWinLink::waitUntilSettled(std::chrono::milliseconds timeout) const {
    return state_->waitUntilSettled(timeout);
}

Subscription KWinLink::listen(std::function<void(const CompositorEvent&)> listener) {
    return state_->listeners.add(std::move(listener));
}

std::optional<KWinScriptDone>
KWinLink::command(const std::function<std::string(std::uint64_t)>& make, bool wait) {
    std::uint64_t serial = 0;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->snapshot.ready || !worker_.isRunning()) {
            return std::nullopt;
        }
        serial = state_->nextSerial++;
        state_->commands.push_back(make(serial));
    }
    onWorker([](KWinLoop& loop) { loop.deliver(); });
    if (!wait) {
        return std::nullopt;
    }
    std::unique_lock lock(state_->mutex);
    if (!state_->changed.wait_for(lock, commandTimeout,
                                  [&] { return state_->done.contains(serial); })) {
        // Not sent yet (the script never asked): it would only come late.
        const std::string text = make(serial);
        std::erase(state_->commands, text);
        return std::nullopt;
    }
    auto done = state_->done.extract(serial);
    return done.mapped();
}

std::optional<std::uint64_t> KWinLink::activateWindow(std::uint64_t id) {
    std::optional<std::string> uuid;
    {
        std::lock_guard lock(state_->mutex);
        uuid = state_->ids.uuidOf(id);
    }
    if (!uuid) {
        return std::nullopt;
    }
    const auto done = command(
        [&uuid](std::uint64_t serial) {
            return KWinScriptMessages::activateCommand(serial, *uuid);
        },
        true);
    if (!done) {
        return std::nullopt;
    }
    std::lock_guard lock(state_->mutex);
    return done->active.empty() ? 0 : state_->ids.idFor(done->active);
}

bool KWinLink::onWorker(std::function<void(KWinLoop&)> task) {
    return worker_.post([this, task = std::move(task)] {
        if (running_) {
            task(*running_);
        }
    });
}

std::optional<int> KWinLink::bindShortcut(const std::string& action, const std::string& text,
                                          int qtKeys) {
    auto answer = std::make_shared<std::promise<std::optional<int>>>();
    auto future = answer->get_future();
    if (!onWorker([answer, action, text, qtKeys](KWinLoop& loop) {
            answer->set_value(loop.shortcuts().bind(action, text, qtKeys));
        }) ||
        future.wait_for(shortcutTimeout) != std::future_status::ready) {
        return std::nullopt;
    }
    return future.get();
}

std::vector<std::string> KWinLink::shortcutOwners(int qtKeys) {
    auto answer = std::make_shared<std::promise<std::vector<std::string>>>();
    auto future = answer->get_future();
    if (!onWorker([answer, qtKeys](KWinLoop& loop) {
            answer->set_value(loop.shortcuts().owners(qtKeys));
        }) ||
        future.wait_for(shortcutTimeout) != std::future_status::ready) {
        return {};
    }
    return future.get();
}

void KWinLink::unbindShortcut(const std::string& action) {
    onWorker([action](KWinLoop& loop) { loop.shortcuts().unbind(action); });
}

bool KWinLink::warpPointer(int, int) {
    return false; // KWin gives scripts no way to move the cursor
}

std::optional<plinth::Point> KWinLink::queryPointer() {
    if (const auto done = command(KWinScriptMessages::cursorCommand, true)) {
        return plinth::Point{double(done->x), double(done->y)};
    }
    const auto s = snapshot();
    if (s.input) {
        return plinth::Point{double(s.input->x), double(s.input->y)};
    }
    return std::nullopt;
}

bool KWinLink::postKey(std::uint32_t, bool) {
    return false;
}

bool KWinLink::watchInput(unsigned milliseconds) {
    {
        std::lock_guard lock(state_->mutex);
        state_->inputInterval = milliseconds;
    }
    command(
        [milliseconds](std::uint64_t serial) {
            return KWinScriptMessages::watchCommand(serial, milliseconds);
        },
        false);
    return true;
}

} // namespace orvane::linuxbackend
