#pragma once

#include "orvane/calibration/CalibrationController.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/platform/Subscription.hpp"

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QVBoxLayout;

namespace orvane::ui {

// The content of the "Orvane Settings" window: every preference, written the moment it is
// changed, the model's accuracy, the drift warning, recalibration, resetting what was learnt
// and the choice of camera. The window lives as long as the app, so each showing re-reads
// everything it displays.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int preferredWidth = 500;
    static constexpr int preferredHeight = 620;
    // From here up the accuracy reads as poor.
    static constexpr double poorAccuracy = 300;

    SettingsView(std::shared_ptr<GazeEngine> engine,
                 std::shared_ptr<CalibrationController> calibration,
                 std::function<void()> onRecalibrate, QWidget* parent = nullptr);
    ~SettingsView() override;

    // Re-reads the preferences and the cameras; also done on every showing. Writes nothing.
    void refresh();

    QSize sizeHint() const override { return {preferredWidth, preferredHeight}; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // A labelled value with a slider under it; the slider moves in whole steps of `unit`.
    struct SliderRow {
        QLabel* value = nullptr;
        QSlider* slider = nullptr;
        double unit = 1;
        std::function<double()> read;
        std::function<void(double)> write;
        std::function<QString(double)> format;
    };
    void addSliderRow(SliderRow& row, QVBoxLayout* into, const QString& title, double maximum,
                      const char* name);
    void showSliderValue(const SliderRow& row);
    QCheckBox* addToggle(QVBoxLayout* into, const QString& title, const char* key,
                         const char* name);
    QLabel* addCaption(QVBoxLayout* into, const QString& caption, bool underToggle);
    void buildGeneral(QVBoxLayout* into);
    void changeStartAtLogin(bool on);
    void showStartAtLogin();
    void buildSwitching(QVBoxLayout* into);
    void buildStayingOut(QVBoxLayout* into);
    void buildInputDevices(QVBoxLayout* into);
    void changeInputDevices(bool on);
    void showInputDevices(const QString& failure = QString());
    void showPasswordNotes();
    void buildAccuracy(QVBoxLayout* into);
    void buildCamera(QVBoxLayout* into);
    void reloadCameras();
    void pickCamera(int index);
    void resetLearning();
    void renderStatus();
    void applyColors();

    std::shared_ptr<GazeEngine> engine_;
    std::shared_ptr<CalibrationController> calibration_;
    std::function<void()> onRecalibrate_;

    SliderRow settle_;
    SliderRow turn_;
    SliderRow paneDelay_;
    SliderRow typingPause_;
    // Each toggle with the preference it edits.
    std::vector<std::pair<QCheckBox*, const char*>> toggles_;
    std::vector<QLabel*> secondaryLabels_;

    QWidget* accuracyRow_ = nullptr;
    QLabel* accuracyValue_ = nullptr;
    QWidget* driftWarning_ = nullptr;
    QLabel* driftSymbol_ = nullptr;
    QPushButton* recalibrate_ = nullptr;
    QPushButton* resetLearning_ = nullptr;
    QComboBox* cameraPicker_ = nullptr;
    // Null where the platform cannot start us at login.
    QCheckBox* startAtLogin_ = nullptr;
    QLabel* startAtLoginProblem_ = nullptr;
    // Null where the desktop shows Orvane every program's input itself.
    QCheckBox* inputDevices_ = nullptr;
    QLabel* inputDevicesProblem_ = nullptr;
    // Programs to restart before their password fields can be seen; terminals' prompts that
    // cannot be told apart.
    QLabel* passwordNotes_ = nullptr;

    std::vector<Subscription> subscriptions_;
};

} // namespace orvane::ui
