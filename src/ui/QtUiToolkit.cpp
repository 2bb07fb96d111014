#include "ui/QtUiToolkit.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "ui/CalibrationScreenView.hpp"
#include "ui/ScreenSpace.hpp"
#include "ui/x11/X11WindowControl.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

namespace orvane::ui {
namespace {

class CalibrationWindow;

std::string describe(const QRect& rect) {
    return std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " " +
           std::to_string(rect.width()) + "x" + std::to_string(rect.height());
}

// The calibration windows now up, shared by the toolkit and its windows: who holds the
// keyboard, and the Escape that any window of ours may receive.
class CalibrationWindows : public QObject {
public:
    CalibrationWindows()
        : wayland_(QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        grabRetry_.setSingleShot(true);
        grabRetry_.setInterval(wayland_ ? focusRetryMilliseconds : 100);
        grabRetry_.callOnTimeout(this, [this] {
            if (wantsKeyboard_ && !windows_.empty()) {
                takeKeyboard();
            }
        });
        if (wayland_ && qGuiApp) {
            connect(qGuiApp, &QGuiApplication::focusWindowChanged, this,
                    [this](QWindow* focus) { focusChanged(focus); });
        }
    }

    // No keyboard grab and no window geometry for clients there: the compositor places a
    // full-screen window on the output it names, and only focus brings Escape to us.
    bool isWayland() const { return wayland_; }

    // Our own X connection for window-manager requests; null off X11.
    linuxbackend::X11Connection* x11() {
        if (!x11Opened_) {
            x11Opened_ = true;
            x11_ = x11::openConnection();
        }
        return x11_.get();
    }

    void add(CalibrationWindow* window) {
        if (windows_.empty() && QCoreApplication::instance()) {
            QCoreApplication::instance()->installEventFilter(this);
        }
        windows_.push_back(window);
    }
    void remove(CalibrationWindow* window);

    // The application is to take the keyboard while the windows are up.
    void activate();
    bool wantsKeyboard() const { return wantsKeyboard_; }
    // Gives the keyboard to some window of ours that is on screen, if none has it yet.
    void takeKeyboard();
    // The window is going off screen (which ends its hold on the keyboard): another takes it.
    void handOverKeyboard(CalibrationWindow* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static constexpr int focusRetryMilliseconds = 200;
    static constexpr int maximumFocusAttempts = 25;
    static constexpr int maximumFocusReturns = 3;

    bool calibrationHasFocus() const;
    void takeFocus();
    void focusChanged(QWindow* focus);

    const bool wayland_;
    // Wayland: attempts left at bringing one of the windows forward, and how often focus may
    // still be taken back from another program before it is left there.
    int focusAttempts_ = 0;
    int focusReturns_ = 0;
    // Taking focus back, where any window of ours will do (Escape reaches the filter from each).
    bool anyWindowWillDo_ = false;
    bool focusFailureLogged_ = false;
    std::shared_ptr<linuxbackend::X11Connection> x11_;
    bool x11Opened_ = false;
    std::vector<CalibrationWindow*> windows_;
    bool wantsKeyboard_ = false;
    CalibrationWindow* keyboardHolder_ = nullptr;
    // A grab is refused while another client holds one for a moment (a window manager moving
    // a window, a busy server): asked again until it is ours. On Wayland: focus, asked again
    // a bounded number of times.
    QTimer grabRetry_;
};

class CalibrationWindow final : public QObject, public FullScreenWindow {
public:
    CalibrationWindow(std::shared_ptr<CalibrationWindows> windows,
                      std::weak_ptr<CalibrationController> controller, const std::string& screenID,
                      const std::string& displayName, const QRect& target, QScreen* screen)
        : windows_(std::move(windows)), target_(target), screen_(screen),
          view_(new CalibrationScreenView(std::move(controller), screenID)) {
        // Names the window to the desktop, which on Wayland finds it by its title.
        view_->setWindowTitle(QStringLiteral("Orvane Calibration \u2014 ") +
                              QString::fromStdString(displayName.empty() ? screenID : displayName));
        settle_.setSingleShot(true);
        settle_.setInterval(settleMilliseconds);
        connect(&settle_, &QTimer::timeout, this, [this] { verifyPlacement(); });
        show(false);
        windows_->add(this);
    }

    ~CalibrationWindow() override {
        windows_->remove(this);
        if (view_) {
            view_->hide();
            // Escape may be what destroys this window, from inside the view's own key handler.
            view_->deleteLater();
        }
    }

    void orderOut() override {
        windows_->remove(this);
        settle_.stop();
        if (view_) {
            view_->hide();
        }
    }

    CalibrationScreenView* view() const { return view_; }

    bool isOnScreen() const {
        return view_ && view_->isVisible() && view_->windowHandle() &&
               view_->windowHandle()->isExposed();
    }

    bool grabKeyboard() {
        return isOnScreen() && view_->windowHandle()->setKeyboardGrabEnabled(true);
    }
    bool hasFocus() const {
        return view_ && view_->windowHandle() &&
               QGuiApplication::focusWindow() == view_->windowHandle();
    }

    // Asks the desktop to focus this window, found in its window list by our process and the
    // window's title. False while the desktop does not list the window yet, or refused.
    bool activateThroughDesktop() {
        if (!isOnScreen() || !hasPlatform() || !platform().windowServer || !platform().workspace) {
            return false;
        }
        const auto windows = platform().windowServer->onScreenWindows();
        if (!windows) {
            return false;
        }
        const std::int64_t pid = ::getpid();
        const std::string title = view_->windowTitle().toStdString();
        for (const auto& entry : *windows) {
            const auto& number = entry.number;
            if (number && entry.ownerPid == pid && entry.title == title) {
                return platform().workspace->activateWindow(static_cast<pid_t>(pid),
                                                            static_cast<std::uint32_t>(*number));
            }
        }
        return false;
    }
    void releaseKeyboard() {
        if (view_ && view_->windowHandle()) {
            view_->windowHandle()->setKeyboardGrabEnabled(false);
        }
    }

    // Raises the window and asks for the keyboard; done once the window is on screen.
    void activate() {
        if (!isOnScreen()) {
            activationPending_ = true;
            return;
        }
        activationPending_ = false;
        view_->raise();
        view_->activateWindow();
        if (auto* x11 = windows_->x11()) {
            x11::requestActivation(*x11, view_->winId());
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!view_ || watched != view_->windowHandle()) {
            return false;
        }
        switch (event->type()) {
        case QEvent::Expose:
            if (isOnScreen()) {
                if (activationPending_) {
                    activate();
                }
                if (windows_->wantsKeyboard()) {
                    windows_->takeKeyboard();
                }
                verifyPlacement();
            }
            break;
        case QEvent::Move:
        case QEvent::Resize:
            // The window manager is still arranging the window: look once it has settled.
            if (!windows_->isWayland()) {
                settle_.start();
            }
            break;
        default:
            break;
        }
        return false;
    }

private:
    static constexpr int settleMilliseconds = 250;
    static constexpr int maximumCorrections = 2;
    static constexpr int maximumUnseenChecks = 20;

    void show(bool unmanaged) {
        unmanaged_ = unmanaged;
        Qt::WindowFlags flags = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
        if (unmanaged) {
            flags |= Qt::X11BypassWindowManagerHint;
        }
        view_->setWindowFlags(flags);
        view_->setWindowState(Qt::WindowNoState);
        view_->setScreen(screen_);
        view_->setGeometry(logicalFromRoot(target_));
        view_->winId(); // the native window, so that it can be given its hints before it maps
        view_->windowHandle()->installEventFilter(this);
        if (auto* x11 = windows_->x11()) {
            x11::putOnAllDesktops(*x11, view_->winId());
        }
        if (unmanaged) {
            view_->show();
        } else {
            view_->showFullScreen();
        }
        view_->raise();
        view_->setFocus();
        if (!windows_->isWayland()) {
            settle_.start();
        }
    }

    // A dot drawn anywhere but at the target it stands for would spoil every sample taken
    // with it: the window must cover its display exactly.
    void verifyPlacement() {
        auto* x11 = windows_->x11();
        if (!x11 || !view_ || !view_->isVisible()) {
            return;
        }
        const auto actual = x11::rootGeometry(*x11, view_->winId());
        if (!actual) {
            if (++unseenChecks_ < maximumUnseenChecks) {
                settle_.start(); // not on screen yet
            }
            return;
        }
        unseenChecks_ = 0;
        if (*actual == target_) {
            return;
        }
        if (corrections_ < maximumCorrections) {
            ++corrections_;
            if (unmanaged_) {
                view_->setGeometry(logicalFromRoot(target_));
            } else {
                // A full-screen window changes monitors only by leaving full screen first.
                view_->showNormal();
                view_->setGeometry(logicalFromRoot(target_));
                view_->showFullScreen();
            }
            settle_.start();
            return;
        }
        if (!unmanaged_) {
            Log::info("calibration: the window manager placed the calibration window at " +
                      describe(*actual) + " instead of " + describe(target_) +
                      "; showing it unmanaged");
            view_->hide();
            windows_->handOverKeyboard(this);
            corrections_ = 0;
            show(true);
            if (windows_->wantsKeyboard()) {
                activate();
            }
            return;
        }
        if (!failureLogged_) {
            failureLogged_ = true;
            Log::error("calibration: the calibration window stays at " + describe(*actual) +
                       " instead of " + describe(target_));
        }
    }

    std::shared_ptr<CalibrationWindows> windows_;
    QRect target_; // root pixels
    QPointer<QScreen> screen_;
    QPointer<CalibrationScreenView> view_;
    QTimer settle_;
    bool unmanaged_ = false;
    bool activationPending_ = false;
    bool failureLogged_ = false;
    // Corrections are never forgiven: a window manager that keeps moving the window back gets
    // an unmanaged window instead of an endless tug of war.
    int corrections_ = 0;
    int unseenChecks_ = 0;
};

void CalibrationWindows::remove(CalibrationWindow* window) {
    const auto found = std::find(windows_.begin(), windows_.end(), window);
    if (found == windows_.end()) {
        return;
    }
    windows_.erase(found);
    handOverKeyboard(window);
    if (windows_.empty()) {
        wantsKeyboard_ = false;
        grabRetry_.stop();
        if (QCoreApplication::instance()) {
            QCoreApplication::instance()->removeEventFilter(this);
        }
    }
}

void CalibrationWindows::handOverKeyboard(CalibrationWindow* window) {
    if (keyboardHolder_ != window) {
        return;
    }
    window->releaseKeyboard();
    keyboardHolder_ = nullptr;
    if (wantsKeyboard_) {
        takeKeyboard();
    }
}

void CalibrationWindows::activate() {
    if (windows_.empty()) {
        return;
    }
    wantsKeyboard_ = true;
    focusAttempts_ = maximumFocusAttempts;
    focusReturns_ = maximumFocusReturns;
    focusFailureLogged_ = false;
    anyWindowWillDo_ = false;
    windows_.front()->activate();
    takeKeyboard();
}

bool CalibrationWindows::calibrationHasFocus() const {
    return std::any_of(windows_.begin(), windows_.end(),
                       [](const CalibrationWindow* window) { return window->hasFocus(); });
}

// The shell focuses a window as it maps unless another program's window took focus since;
// then only the desktop's own activation brings one of ours forward. It lists a new window
// only a moment after Qt has shown it, so this is tried a bounded number of times.
void CalibrationWindows::takeFocus() {
    const bool ours =
        calibrationHasFocus() || (anyWindowWillDo_ && QGuiApplication::focusWindow() != nullptr);
    if (ours || focusAttempts_ <= 0) {
        grabRetry_.stop();
        return;
    }
    for (auto* window : windows_) {
        if (window->activateThroughDesktop()) {
            grabRetry_.stop();
            if (anyWindowWillDo_) {
                --focusReturns_;
            }
            return;
        }
    }
    if (--focusAttempts_ > 0) {
        grabRetry_.start();
    } else if (!focusFailureLogged_) {
        focusFailureLogged_ = true;
        Log::info("calibration: the desktop did not focus a calibration window; Escape reaches "
                  "the calibration only once one is clicked");
    }
}

void CalibrationWindows::focusChanged(QWindow* focus) {
    if (!wantsKeyboard_ || windows_.empty() || focus != nullptr || focusReturns_ <= 0) {
        return;
    }
    // Another program took focus, or focus is passing between two windows of ours (which the
    // next attempt sees): taken back a few times, then left to a program that insists.
    focusAttempts_ = maximumFocusAttempts;
    anyWindowWillDo_ = true;
    grabRetry_.start();
}

void CalibrationWindows::takeKeyboard() {
    if (wayland_) {
        takeFocus();
        return;
    }
    if (keyboardHolder_) {
        return;
    }
    // Whichever window holds the grab, Escape reaches us; the filter below routes it.
    for (auto* window : windows_) {
        if (window->grabKeyboard()) {
            keyboardHolder_ = window;
            grabRetry_.stop();
            return;
        }
    }
    if (!grabRetry_.isActive()) {
        grabRetry_.start();
    }
}

bool CalibrationWindows::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || windows_.empty() ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) {
        return QObject::eventFilter(watched, event);
    }
    // Cancelling may take down every window, this filter's owner's list included.
    if (QPointer<CalibrationScreenView> view = windows_.front()->view()) {
        view->cancelRun();
    }
    return true;
}

class QtUiToolkit final : public UiToolkit {
public:
    explicit QtUiToolkit(std::weak_ptr<CalibrationController> controller)
        : controller_(std::move(controller)), windows_(std::make_shared<CalibrationWindows>()) {}

    std::unique_ptr<FullScreenWindow>
    presentCalibrationWindow(const Display& display, const std::string& screenID) override {
        const QRect target = rootRectFromGlobal(display.frame);
        QScreen* screen = screenForRootRect(target);
        if (screen == nullptr || target.isEmpty()) {
            return nullptr;
        }
        return std::make_unique<CalibrationWindow>(windows_, controller_, screenID,
                                                   display.localizedName, target, screen);
    }

    void activateIgnoringOtherApps() override { windows_->activate(); }

private:
    std::weak_ptr<CalibrationController> controller_;
    std::shared_ptr<CalibrationWindows> windows_;
};

} // namespace

std::shared_ptr<UiToolkit> makeQtUiToolkit(std::weak_ptr<CalibrationController> controller) {
    return std::make_shared<QtUiToolkit>(std::move(controller));
}

} // namespace orvane::ui
