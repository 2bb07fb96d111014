#include "backends/linux/atspi/AtspiAccessibility.hpp"

#include "backends/linux/atspi/AtspiBusStatus.hpp"
#include "backends/linux/atspi/AtspiElement.hpp"
#include "backends/linux/atspi/AtspiRoles.hpp"
#include "backends/linux/atspi/AtspiWindowQueries.hpp"
#include "backends/linux/atspi/AtspiWindowSystem.hpp"
#include "backends/linux/atspi/AtspiWorker.hpp"

#include <atspi/atspi.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fstream>
#include <limits>
#include <string>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {
// Whether an answer means the program did not answer in time (or went away mid-call).
template <typename T> bool missedAnswer(const AccessResult<T>& result) {
    return result.error() == AccessError::cannotComplete;
}
bool missedAnswer(const std::shared_ptr<AtspiElement>&) {
    return false; // found through the bus, not the application
}

// A program that ended answers nothing more, which libatspi tells as it tells a slow one:
// its elements are gone, not late.
template <typename T> void markEnded(AccessResult<T>& result, pid_t pid) {
    if (result.error() == AccessError::cannotComplete && kill(pid, 0) != 0 && errno == ESRCH) {
        result = AccessError::invalidElement;
    }
}
void markEnded(std::shared_ptr<AtspiElement>&, pid_t) {}

// A raw question to the application's own loop, which libatspi might answer from its cache:
// any answer, even an error, says the program is back.
bool probeAnswers(AtspiAccessible* application) {
    AtspiObject* object = ATSPI_OBJECT(application);
    if (!object->app || !object->app->bus || !object->app->bus_name || !object->path) {
        return false;
    }
    DBusMessage* message = dbus_message_new_method_call(object->app->bus_name, object->path,
                                                        DBUS_INTERFACE_PROPERTIES, "Get");
    if (!message) {
        return false;
    }
    const char* interface = "org.a11y.atspi.Accessible";
    const char* property = "ChildCount";
    dbus_message_append_args(message, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                             DBUS_TYPE_INVALID);
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(object->app->bus, message,
                                                                   callTimeoutMilliseconds, &error);
    dbus_message_unref(message);
    const bool answered =
        reply || (dbus_error_is_set(&error) && !dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY) &&
                  !dbus_error_has_name(&error, DBUS_ERROR_TIMEOUT));
    dbus_error_free(&error);
    if (reply) {
        dbus_message_unref(reply);
    }
    return answered;
}

const pid_t ownPid = getpid();

std::atomic<std::chrono::milliseconds::rep> answerBudget{
    AtspiAccessibility::defaultAnswerBudget.count()};

std::chrono::milliseconds budget() {
    return std::chrono::milliseconds(answerBudget.load());
}

} // namespace

// The worker's side: touched on the worker only, but for the atomics and the status, which
// are thread-safe.
struct AtspiAccessibility::Shared {
    AtspiBusStatus status;
    AtspiResponsiveness responsiveness;
    std::atomic<bool> trusted{false};
    std::atomic<bool> busLost{false};
    std::atomic<bool> busReplaced{false};
    std::mutex listingMutex;
    std::optional<std::vector<pid_t>> listing;

    void refreshTrust() {
        trusted = status.isEnabled();
        DBusConnection* bus = initialized() ? connection() : nullptr;
        if (bus && !busReplaced && !dbus_connection_get_is_connected(bus)) {
            busLost = true;
            if (!status.address().empty()) {
                busReplaced = true;
            }
        }
    }

    static bool& initialized() {
        static bool done = false;
        return done;
    }
    // libatspi's own connection, held from the start to see it end.
    static DBusConnection*& connection() {
        static DBusConnection* held = nullptr;
        return held;
    }
};

bool AtspiAccessibility::initializeOnWorker() {
    static bool failed = false;
    bool& done = Shared::initialized();
    if (done || failed) {
        return done;
    }
    // Has the launcher start the bus if it is not running and publish its address where
    // libatspi reads it, instead of libatspi trying an address left by a bus that ended.
    AtspiBusStatus().address();
    const int result = atspi_init();
    if (result != 0 && result != 1) {
        failed = true;
        return false;
    }
    // Right after a successful start this is the connection libatspi works on.
    if (DBusConnection* bus = atspi_get_a11y_bus()) {
        Shared::connection() = dbus_connection_ref(bus);
    }
    // A stopped application would otherwise block the first call for many seconds.
    atspi_set_timeout(callTimeoutMilliseconds, callTimeoutMilliseconds);
    done = true;
    return true;
}

AtspiAccessible* AtspiAccessibility::findApplicationOnWorker(pid_t pid,
                                                             const AtspiResponsiveness& skip) {
    if (pid <= 0 || pid == ownPid || skip.isSkipped(pid) || !initializeOnWorker()) {
        return nullptr;
    }
    AtspiAccessible* found = nullptr;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop) {
        return nullptr;
    }
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(desktop, &error);
    g_clear_error(&error);
    for (gint i = 0; i < count && !found; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(desktop, i, &error);
        g_clear_error(&error);
        if (!child) {
            continue;
        }
        // The bus itself answers this, not the application.
        const guint childPid = atspi_accessible_get_process_id(child, &error);
        g_clear_error(&error);
        if (static_cast<pid_t>(childPid) == pid) {
            found = child;
        } else {
            g_object_unref(child);
        }
    }
    g_object_unref(desktop);
    return found;
}

AtspiAccessibility::AtspiAccessibility(std::shared_ptr<AtspiWindowSystem> windows)
    : windows_(std::move(windows)), shared_(std::make_shared<Shared>()) {
    // Known from the start, so that nothing takes this process for untrusted meanwhile: the
    // bus's own launcher answers, bounded in time.
    shared_->trusted = shared_->status.isEnabled();
    auto& worker = AtspiWorker::shared();
    std::weak_ptr<Shared> weak = shared_;
    worker.post([weak] {
        if (auto shared = weak.lock()) {
            initializeOnWorker();
            shared->refreshTrust();
        }
    });
    worker.every(std::chrono::milliseconds(1000), [weak] {
        auto shared = weak.lock();
        if (shared) {
            shared->refreshTrust();
        }
        return shared != nullptr;
    });
    // Programs that stopped answering are asked again now and then, cheaply: a property of
    // their application object, which only their own (possibly hung) loop can answer.
    worker.every(std::chrono::milliseconds(250), [weak] {
        auto shared = weak.lock();
        if (!shared) {
            return false;
        }
        for (pid_t pid : shared->responsiveness.dueForProbe(AtspiWorker::monotonic())) {
            AtspiAccessible* app = findApplicationOnWorker(pid, AtspiResponsiveness());
            if (!app) {
                shared->responsiveness.forget(pid); // gone from the bus
                continue;
            }
            if (probeAnswers(app)) {
                shared->responsiveness.answered(pid);
            }
            g_object_unref(app);
        }
        return true;
    });
}

AtspiAccessibility::~AtspiAccessibility() = default;

void AtspiAccessibility::setAnswerBudget(std::chrono::milliseconds wait) {
    answerBudget = wait.count();
}

std::shared_ptr<AtspiResponsiveness> AtspiAccessibility::responsiveness() {
    return {shared_, &shared_->responsiveness};
}

template <typename T> T AtspiAccessibility::ask(pid_t pid, T fallback, std::function<T()> task) {
    if (pid == ownPid) {
        return fallback;
    }
    if (shared_->responsiveness.isSkipped(pid)) {
        markEnded(fallback, pid);
        return fallback;
    }
    auto answer = AtspiWorker::shared().call<T>(
        budget(), [shared = shared_, pid, fallback, task = std::move(task)]() -> T {
            if (shared->responsiveness.isSkipped(pid) || !initializeOnWorker()) {
                return fallback;
            }
            T value = task();
            // Slow is not hung: only a call libatspi gave up on has the program skipped.
            if (missedAnswer(value)) {
                shared->responsiveness.missed(pid, AtspiWorker::monotonic());
            }
            return value;
        });
    T result = answer.value ? std::move(*answer.value) : fallback;
    markEnded(result, pid);
    return result;
}

bool AtspiAccessibility::isProcessTrusted() const {
    watchBus();
    return shared_->trusted;
}

void AtspiAccessibility::watchBus() const {
    const auto tell = [this](BusChange change) {
        if (busWatch_) {
            busWatch_(change);
        }
    };
    if (shared_->busLost && !busLost_) {
        busLost_ = true;
        tell(BusChange::lost);
    }
    if (shared_->busReplaced && !busReplaced_) {
        busReplaced_ = true;
        tell(BusChange::replaced);
    }
}

void AtspiAccessibility::promptForTrust() {
    AtspiWorker::shared().post([shared = shared_] {
        if (shared->status.setEnabled(true)) {
            shared->refreshTrust();
        }
    });
}

AccessibleRef AtspiAccessibility::applicationElement(pid_t pid) {
    auto found = ask<std::shared_ptr<AtspiElement>>(
        pid, nullptr, [shared = shared_, pid]() -> std::shared_ptr<AtspiElement> {
            return std::make_shared<AtspiElement>(
                findApplicationOnWorker(pid, shared->responsiveness), pid, true);
        });
    return found ? found : std::make_shared<AtspiElement>(nullptr, pid, true);
}

std::optional<std::vector<pid_t>> AtspiAccessibility::registeredProcesses() {
    if (!isProcessTrusted()) {
        return std::nullopt;
    }
    using Listing = std::optional<std::vector<pid_t>>;
    auto answer = AtspiWorker::shared().call<Listing>(budget(), [shared = shared_]() -> Listing {
        if (!initializeOnWorker()) {
            return std::nullopt;
        }
        AtspiAccessible* desktop = atspi_get_desktop(0);
        if (!desktop) {
            return std::nullopt;
        }
        GError* error = nullptr;
        const gint count = atspi_accessible_get_child_count(desktop, &error);
        if (count < 0 || error) {
            g_clear_error(&error);
            g_object_unref(desktop);
            return std::nullopt;
        }
        std::vector<pid_t> pids;
        for (gint i = 0; i < count; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(desktop, i, &error);
            g_clear_error(&error);
            if (!child) {
                continue;
            }
            const guint pid = atspi_accessible_get_process_id(child, &error);
            g_clear_error(&error);
            if (pid > 0) {
                pids.push_back(static_cast<pid_t>(pid));
            }
            g_object_unref(child);
        }
        g_object_unref(desktop);
        std::lock_guard lock(shared->listingMutex);
        shared->listing = pids;
        return pids;
    });
    if (answer.value) {
        return *answer.value;
    }
    std::lock_guard lock(shared_->listingMutex);
    return shared_->listing;
}

bool AtspiAccessibility::speaksAccessibility(pid_t pid) const {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        for (const char* library :
             {"/libgtk-3.so", "/libgtk-4.so", "/libQt6Gui.so", "/libQt5Gui.so"}) {
            if (line.find(library) != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

namespace {

// The AT-SPI object behind an element handed out by this service; null for any other.
std::shared_ptr<AtspiElement> atspiOf(const AccessibleRef& element) {
    auto atspi = std::dynamic_pointer_cast<AtspiElement>(element);
    return atspi && atspi->accessible() ? atspi : nullptr;
}

} // namespace

template <typename T>
AccessResult<T> AtspiAccessibility::askAbout(const AccessibleRef& element, bool needsView,
                                             Question<T> question) {
    auto atspi = atspiOf(element);
    if (!atspi) {
        return AccessError::invalidElement;
    }
    WindowView view;
    if (needsView) {
        view = viewOf(*windows_, atspi->pid());
    }
    return ask<AccessResult<T>>(atspi->pid(), AccessError::cannotComplete,
                                [atspi, view, question] { return question(*atspi, view); });
}

AccessResult<std::vector<AccessibleRef>>
AtspiAccessibility::windows(const AccessibleRef& application) {
    if (auto atspi = atspiOf(application); atspi && !atspi->isApplication()) {
        return AccessError::unsupported;
    }
    return askAbout<std::vector<AccessibleRef>>(application, true, windowsOnWorker);
}

AccessResult<plinth::Rect> AtspiAccessibility::frame(const AccessibleRef& element) {
    return askAbout<plinth::Rect>(element, true, frameOnWorker);
}

AccessResult<AccessibleRole> AtspiAccessibility::role(const AccessibleRef& element) {
    return askAbout<AccessibleRole>(
        element, false,
        [](const AtspiElement& atspi, const WindowView&) { return roleOnWorker(atspi); });
}

AccessResult<AccessibleRef> AtspiAccessibility::parent(const AccessibleRef& element) {
    return askAbout<AccessibleRef>(
        element, false,
        [](const AtspiElement& atspi, const WindowView&) { return parentOnWorker(atspi); });
}

AccessResult<void> AtspiAccessibility::focus(const AccessibleRef& element) {
    return askAbout<void>(
        element, false, [](const AtspiElement& atspi, const WindowView&) -> AccessResult<void> {
            ComponentRef ref(atspi.accessible());
            if (!ref.component) {
                return AccessError::unsupported;
            }
            GError* error = nullptr;
            const gboolean done = atspi_component_grab_focus(ref.component, &error);
            if (error) {
                return takeError(error);
            }
            return done ? AccessResult<void>() : AccessError::failure;
        });
}

AccessResult<std::uint64_t> AtspiAccessibility::rememberShown(const AccessibleRef& window) {
    auto shown = askAbout<std::uint64_t>(
        window, true,
        [](const AtspiElement& atspi, const WindowView& view) -> AccessResult<std::uint64_t> {
            auto top = topLevelFor(atspi.accessible(), view);
            if (!top) {
                return AccessError::failure;
            }
            return top->id;
        });
    if (shown.ok()) {
        // Answered, so the element is one of ours.
        windows_->remember(std::static_pointer_cast<AtspiElement>(window)->pid(), *shown.value());
    }
    return shown;
}

AccessResult<void> AtspiAccessibility::makeMain(const AccessibleRef& window) {
    const auto shown = rememberShown(window);
    if (shown.ok()) {
        return {};
    }
    const AccessError error = *shown.error();
    return error == AccessError::cannotComplete || error == AccessError::invalidElement
               ? error
               : AccessError::failure;
}

AccessResult<void> AtspiAccessibility::raise(const AccessibleRef& window) {
    const auto shown = rememberShown(window);
    if (!shown.ok()) {
        return *shown.error();
    }
    if (!windows_->raise(*shown.value())) {
        return AccessError::invalidElement;
    }
    return {};
}

AccessResult<AccessibleRef> AtspiAccessibility::elementAt(const AccessibleRef& application,
                                                          plinth::Point point) {
    return askAbout<AccessibleRef>(application, true,
                                   [point](const AtspiElement& atspi, const WindowView& view) {
                                       return elementAtOnWorker(atspi, view, point);
                                   });
}

} // namespace orvane::linuxbackend
