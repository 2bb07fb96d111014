#pragma once

#include "orvane/app/CalibrationCoordinator.hpp"
#include "orvane/app/OnboardingFlow.hpp"
#include "orvane/calibration/CalibrationController.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/platform/Subscription.hpp"

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace orvane::ui {

// The content of the set-up window "Set up Orvane": camera, accessibility, calibration and a
// closing page, one at a time, with Back and Continue (Done at the end) in the footer.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    static constexpr int preferredWidth = 520;
    static constexpr int preferredHeight = 420;

    OnboardingView(std::shared_ptr<GazeEngine> engine,
                   std::shared_ptr<CalibrationController> calibration,
                   std::shared_ptr<CalibrationCoordinator> coordinator,
                   std::function<void()> onComplete, QWidget* parent = nullptr);
    ~OnboardingView() override;

    // What "Relaunch Orvane" does; without one the button is not offered.
    void setRelaunch(std::function<void()> relaunch);

    const OnboardingFlow& flow() const { return *flow_; }

    QSize sizeHint() const override { return {preferredWidth, preferredHeight}; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Step {
        QWidget* page = nullptr;
        QLabel* symbol = nullptr;
        QVBoxLayout* controls = nullptr;
    };
    Step makeStep(const QString& title, const QString& body, const char* name);
    QWidget* makeGrantedLabel(const char* name);
    QLabel* makeErrorLabel(const char* name);
    QPushButton* makeLeadingButton(const QString& text, const char* name, QVBoxLayout* into);
    void buildCameraStep();
    void buildAccessibilityStep();
    void buildCalibrationStep();
    void buildDoneStep();
    void drawSymbols();
    void pressDefault();
    void render();

    std::shared_ptr<GazeEngine> engine_;
    std::shared_ptr<CalibrationController> calibration_;
    std::shared_ptr<OnboardingFlow> flow_;
    std::function<void()> onComplete_;
    std::function<void()> relaunch_;
    // Share of the current run's dots; a new run starts from nothing.
    double runProgress_ = 0;
    bool wasRunning_ = false;

    QLabel* headerSymbol_ = nullptr;
    QLabel* stepCaption_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    std::vector<Step> steps_;
    QPushButton* backButton_ = nullptr;
    QPushButton* defaultButton_ = nullptr;

    QPushButton* allowCamera_ = nullptr;
    QWidget* cameraGranted_ = nullptr;
    QLabel* cameraError_ = nullptr;

    QPushButton* openSettings_ = nullptr;
    QWidget* axGranted_ = nullptr;
    QFrame* relaunchCallout_ = nullptr;
    QPushButton* relaunchButton_ = nullptr;
    QFrame* restartCallout_ = nullptr;
    QLabel* restartPrograms_ = nullptr;
    QFrame* bridgeCallout_ = nullptr;
    QLabel* bridgeText_ = nullptr;
    QPushButton* enableBridge_ = nullptr;

    QPushButton* startCalibration_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* calibratingLabel_ = nullptr;
    QLabel* calibrationError_ = nullptr;

    QWidget* accuracyRow_ = nullptr;
    QLabel* accuracyLabel_ = nullptr;
    QLabel* accuracySymbol_ = nullptr;
    std::vector<QLabel*> grantedSymbols_;

    std::vector<Subscription> subscriptions_;
};

} // namespace orvane::ui
