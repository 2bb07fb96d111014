#pragma once

#include "orvane/app/CalibrationCoordinator.hpp"
#include "orvane/app/StatusPresentation.hpp"
#include "orvane/calibration/CalibrationController.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/platform/DesktopBridge.hpp"
#include "orvane/platform/HotKeys.hpp"
#include "orvane/platform/Subscription.hpp"
#include "ui/GazeOverlay.hpp"

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QMessageBox;
class QSystemTrayIcon;

namespace orvane::ui {

class OnboardingView;
class SettingsView;

// Orvane's presence in the tray: an icon and tool tip that follow the engine's status, the menu,
// the pause hot key, the set-up and settings windows, recalibration with its outcome in an
// alert, and the gaze dot. One for the life of the process. Main thread.
class MenuBarController : public QObject {
    Q_OBJECT
public:
    MenuBarController(std::shared_ptr<GazeEngine> engine,
                      std::shared_ptr<CalibrationController> calibration,
                      std::shared_ptr<CalibrationCoordinator> coordinator,
                      QObject* parent = nullptr);
    ~MenuBarController() override;

    // The set-up window; brought forward when it is open already.
    void openOnboarding();
    // The settings window, made once and kept; brought forward when open.
    void openSettings();
    // What "Relaunch Orvane" does (the menu item and the set-up window's button).
    void setRelaunch(std::function<void()> relaunch);

    // The menu's actions.
    void togglePause();
    void startCalibration();
    void toggleDot();

    // The tray's picture for a status, drawn from our own SVGs at whatever size is asked for.
    static QIcon icon(StatusIcon which);

    QSystemTrayIcon& trayIcon() const { return *tray_; }
    QMenu& menu() const { return *menu_; }
    const GazeOverlay& overlay() const { return overlay_; }
    QWidget* settingsWindow() const;
    QWidget* onboardingWindow() const;
    // The last calibration outcome shown, while it is open.
    QMessageBox* alert() const;
    bool hasHotKey() const { return hotKey_.has_value(); }
    // True where the desktop has no tray host and draws the status icon and menu itself.
    bool drawsOnDesktop() const { return indicator_ != nullptr; }

private:
    void render(const GazeStatus& status);
    MenuState menuState() const;
    // Brings the menu in line with the state; `force` rebuilds even an unchanged one.
    void refreshMenu(bool force = false);
    void fillMenu(const std::vector<MenuItem>& items);
    void perform(MenuAction action);
    void relaunch();
    void registerHotKey();
    void showAlert(const QString& title, const QString& text);
    // Hands the icon, tool tip and menu to the desktop's own status icon, where there is one.
    void showOnDesktop();
    // A file holding the icon's SVG; empty when none could be written.
    static std::string iconFile(StatusIcon which);

    std::shared_ptr<GazeEngine> engine_;
    std::shared_ptr<CalibrationController> calibration_;
    std::shared_ptr<CalibrationCoordinator> coordinator_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* tray_ = nullptr; // child of this
    GazeOverlay overlay_;
    std::vector<Subscription> subscriptions_;
    std::unique_ptr<SettingsView> settingsWindow_;
    // Dropped with deleteLater once set-up completes: it is inside its own callback then.
    QPointer<OnboardingView> onboardingWindow_;
    QPointer<QMessageBox> alert_;
    std::optional<HotKeyToken> hotKey_;
    std::function<void()> relaunch_;

    // What is shown now, so a status published with every frame costs a comparison only.
    std::optional<StatusIcon> shownIcon_;
    std::optional<MenuState> shownMenu_;
    std::vector<MenuItem> shownItems_;
    std::shared_ptr<StatusIndicator> indicator_;
    std::optional<StatusIcon> indicatorIcon_;
    QString indicatorTooltip_;
};

} // namespace orvane::ui
