#include "ui/OnboardingView.hpp"

#include "orvane/focus/UnreachablePrograms.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/DesktopBridgeText.hpp"
#include "ui/AccentColor.hpp"
#include "ui/ViewSymbols.hpp"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <utility>

namespace orvane::ui {
namespace {

constexpr int stepSymbolSize = 44;
constexpr int progressSteps = 1000;

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

QLabel* wrappedLabel(const QString& value, QWidget* parent) {
    auto* label = new QLabel(value, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

const PlatformWords& words() {
    return *platform().words;
}

} // namespace

OnboardingView::OnboardingView(std::shared_ptr<GazeEngine> engine,
                               std::shared_ptr<CalibrationController> calibration,
                               std::shared_ptr<CalibrationCoordinator> coordinator,
                               std::function<void()> onComplete, QWidget* parent)
    : QWidget(parent), engine_(std::move(engine)), calibration_(std::move(calibration)),
      flow_(OnboardingFlow::make(std::move(coordinator))), onComplete_(std::move(onComplete)) {
    setObjectName("onboarding");
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 14, 20, 12);
    header->setSpacing(10);
    headerSymbol_ = new QLabel(this);
    headerSymbol_->setFixedSize(24, 24);
    auto* title = new QLabel("Set up Orvane", this);
    title->setObjectName("windowHeading");
    title->setFont(scaledFont(1.15, QFont::DemiBold));
    stepCaption_ = new QLabel(this);
    stepCaption_->setObjectName("stepCaption");
    header->addWidget(headerSymbol_);
    header->addWidget(title);
    header->addStretch();
    header->addWidget(stepCaption_);
    root->addLayout(header);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    root->addWidget(divider);

    // Where focus cannot be moved at all, that comes before every step.
    if (const auto& unsupported = platform().unsupportedSession; !unsupported.empty()) {
        auto* banner = wrappedLabel(text(unsupported), this);
        banner->setObjectName("unsupportedSession");
        banner->setContentsMargins(24, 12, 24, 0);
        banner->setFont(scaledFont(1.0, QFont::DemiBold));
        setTextColor(banner, ViewColors::red());
        root->addWidget(banner);
    }

    pages_ = new QStackedWidget(this);
    root->addWidget(pages_, 1);
    buildCameraStep();
    buildAccessibilityStep();
    buildCalibrationStep();
    buildDoneStep();

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(20, 8, 20, 16);
    backButton_ = new QPushButton("Back", this);
    backButton_->setObjectName("backButton");
    defaultButton_ = new QPushButton(this);
    defaultButton_->setObjectName("defaultButton");
    defaultButton_->setDefault(true);
    defaultButton_->setText("Continue"); // the wider of its two titles
    giveRoom(backButton_);
    giveRoom(defaultButton_);
    footer->addWidget(backButton_);
    footer->addStretch();
    footer->addWidget(defaultButton_);
    root->addLayout(footer);

    connect(backButton_, &QPushButton::clicked, this, [this] { flow_->back(); });
    connect(defaultButton_, &QPushButton::clicked, this, [this] { pressDefault(); });
    // Outside a dialog no button takes Return by itself.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (defaultButton_->isEnabled()) {
                defaultButton_->click();
            }
        });
    }

    drawSymbols();
    flow_->onChange = [this] {
        render();
    };
    subscriptions_.push_back(calibration_->isRunning.subscribe([this](bool running) {
        if (running && !wasRunning_) {
            runProgress_ = 0;
        }
        wasRunning_ = running;
        render();
    }));
    subscriptions_.push_back(calibration_->progress.subscribe([this](double progress) {
        if (calibration_->isRunning.get()) {
            runProgress_ = progress;
        }
        render();
    }));
    subscriptions_.push_back(
        calibration_->currentScreenName.subscribe([this](const std::string&) { render(); }));
    subscriptions_.push_back(
        engine_->fitError.subscribe([this](const std::optional<double>&) { render(); }));
}

OnboardingView::~OnboardingView() {
    // The flow may outlive us in a pending callback; it must not reach back.
    flow_->onChange = nullptr;
    flow_->stopPolling();
}

void OnboardingView::setRelaunch(std::function<void()> relaunch) {
    relaunch_ = std::move(relaunch);
    render();
}

OnboardingView::Step OnboardingView::makeStep(const QString& title, const QString& body,
                                              const char* name) {
    Step step;
    step.page = new QWidget(pages_);
    step.page->setObjectName(name);
    auto* row = new QHBoxLayout(step.page);
    row->setContentsMargins(24, 18, 24, 4);
    row->setSpacing(18);
    step.symbol = new QLabel(step.page);
    step.symbol->setFixedSize(stepSymbolSize, stepSymbolSize);
    row->addWidget(step.symbol, 0, Qt::AlignTop);

    step.controls = new QVBoxLayout;
    step.controls->setSpacing(8);
    auto* heading = new QLabel(title, step.page);
    heading->setObjectName("stepTitle");
    heading->setFont(scaledFont(1.4, QFont::DemiBold));
    step.controls->addWidget(heading);
    auto* bodyLabel = wrappedLabel(body, step.page);
    bodyLabel->setObjectName("stepBody");
    step.controls->addWidget(bodyLabel);
    step.controls->addSpacing(6);
    row->addLayout(step.controls, 1);
    pages_->addWidget(step.page);
    steps_.push_back(step);
    return step;
}

QWidget* OnboardingView::makeGrantedLabel(const char* name) {
    auto* granted = new QWidget(this);
    granted->setObjectName(name);
    auto* row = new QHBoxLayout(granted);
    row->setContentsMargins(0, 2, 0, 2);
    row->setSpacing(6);
    auto* symbol = new QLabel(granted);
    symbol->setFixedSize(18, 18);
    grantedSymbols_.push_back(symbol);
    auto* label = new QLabel("Granted", granted);
    label->setFont(scaledFont(1.0, QFont::DemiBold));
    setTextColor(label, ViewColors::green());
    row->addWidget(symbol);
    row->addWidget(label);
    row->addStretch();
    return granted;
}

QLabel* OnboardingView::makeErrorLabel(const char* name) {
    auto* label = wrappedLabel({}, this);
    label->setObjectName(name);
    label->setFont(scaledFont(0.95));
    setTextColor(label, ViewColors::red());
    return label;
}

// A button at its natural width, on the leading side.
QPushButton* OnboardingView::makeLeadingButton(const QString& title, const char* name,
                                               QVBoxLayout* into) {
    auto* button = new QPushButton(title, this);
    button->setObjectName(name);
    giveRoom(button);
    into->addWidget(button, 0, Qt::AlignLeft);
    return button;
}

void OnboardingView::buildCameraStep() {
    auto step = makeStep("Allow camera access", text(words().cameraBody), "cameraStep");
    allowCamera_ = makeLeadingButton("Allow Camera…", "allowCamera", step.controls);
    cameraGranted_ = makeGrantedLabel("cameraGranted");
    step.controls->addWidget(cameraGranted_);
    cameraError_ = makeErrorLabel("cameraError");
    step.controls->addWidget(cameraError_);
    step.controls->addStretch();
    connect(allowCamera_, &QPushButton::clicked, this, [this] { flow_->requestCameraAccess(); });
}

void OnboardingView::buildAccessibilityStep() {
    auto step = makeStep("Allow Accessibility access", text(words().accessibilityBody),
                         "accessibilityStep");
    openSettings_ =
        makeLeadingButton(text(words().openAccessibilitySettings), "openSettings", step.controls);
    axGranted_ = makeGrantedLabel("accessibilityGranted");
    step.controls->addWidget(axGranted_);

    relaunchCallout_ = new QFrame(this);
    relaunchCallout_->setObjectName("relaunchCallout");
    relaunchCallout_->setFrameShape(QFrame::StyledPanel);
    relaunchCallout_->setAutoFillBackground(true);
    relaunchCallout_->setBackgroundRole(QPalette::AlternateBase);
    auto* callout = new QVBoxLayout(relaunchCallout_);
    callout->setContentsMargins(12, 10, 12, 10);
    callout->setSpacing(6);
    auto* question = new QLabel("Already switched it on?", relaunchCallout_);
    question->setFont(scaledFont(0.95, QFont::Medium));
    auto* hint = wrappedLabel(text(words().relaunchHint), relaunchCallout_);
    hint->setObjectName("relaunchHint");
    hint->setFont(scaledFont(0.95));
    relaunchButton_ = new QPushButton("Relaunch Orvane", relaunchCallout_);
    relaunchButton_->setObjectName("relaunchButton");
    giveRoom(relaunchButton_);
    callout->addWidget(question);
    callout->addWidget(hint);
    callout->addWidget(relaunchButton_, 0, Qt::AlignLeft);
    // Granted, yet programs started before that stay out of reach until they are restarted.
    restartCallout_ = new QFrame(this);
    restartCallout_->setObjectName("restartCallout");
    restartCallout_->setFrameShape(QFrame::StyledPanel);
    restartCallout_->setAutoFillBackground(true);
    restartCallout_->setBackgroundRole(QPalette::AlternateBase);
    auto* restart = new QVBoxLayout(restartCallout_);
    restart->setContentsMargins(12, 10, 12, 10);
    restartPrograms_ = wrappedLabel(QString(), restartCallout_);
    restartPrograms_->setObjectName("restartPrograms");
    restartPrograms_->setFont(scaledFont(0.95));
    restart->addWidget(restartPrograms_);
    // On a desktop reached through its own extension: whether that is on, and how to turn it on.
    bridgeCallout_ = new QFrame(this);
    bridgeCallout_->setObjectName("bridgeCallout");
    bridgeCallout_->setFrameShape(QFrame::StyledPanel);
    bridgeCallout_->setAutoFillBackground(true);
    bridgeCallout_->setBackgroundRole(QPalette::AlternateBase);
    auto* bridge = new QVBoxLayout(bridgeCallout_);
    bridge->setContentsMargins(12, 10, 12, 10);
    bridge->setSpacing(6);
    bridgeText_ = wrappedLabel(QString(), bridgeCallout_);
    bridgeText_->setObjectName("bridgeText");
    bridgeText_->setFont(scaledFont(0.95));
    enableBridge_ = new QPushButton("Turn On Extension", bridgeCallout_);
    enableBridge_->setObjectName("enableBridge");
    giveRoom(enableBridge_);
    bridge->addWidget(bridgeText_);
    bridge->addWidget(enableBridge_, 0, Qt::AlignLeft);
    connect(enableBridge_, &QPushButton::clicked, this, [this] { flow_->enableBridge(); });
    step.controls->addSpacing(4);
    step.controls->addWidget(bridgeCallout_);
    step.controls->addWidget(relaunchCallout_);
    step.controls->addWidget(restartCallout_);
    step.controls->addStretch();

    connect(openSettings_, &QPushButton::clicked, this,
            [this] { flow_->openAccessibilitySettings(); });
    connect(relaunchButton_, &QPushButton::clicked, this, [this] {
        if (relaunch_) {
            relaunch_();
        }
    });
}

void OnboardingView::buildCalibrationStep() {
    auto step = makeStep("Calibrate your screens",
                         "A dot will appear at five places on each display. Look at each one and "
                         "turn your head toward it rather than only moving your eyes. It takes "
                         "about twenty seconds per screen.",
                         "calibrationStep");
    startCalibration_ = makeLeadingButton("Start Calibration", "startCalibration", step.controls);
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName("calibrationProgress");
    progressBar_->setRange(0, progressSteps);
    progressBar_->setTextVisible(false);
    progressBar_->setFixedHeight(8);
    step.controls->addWidget(progressBar_);
    calibratingLabel_ = new QLabel(this);
    calibratingLabel_->setObjectName("calibratingLabel");
    calibratingLabel_->setTextFormat(Qt::PlainText);
    calibratingLabel_->setFont(scaledFont(0.85));
    step.controls->addWidget(calibratingLabel_);
    calibrationError_ = makeErrorLabel("calibrationError");
    step.controls->addWidget(calibrationError_);
    step.controls->addStretch();
    connect(startCalibration_, &QPushButton::clicked, this, [this] { flow_->startCalibration(); });
}

void OnboardingView::buildDoneStep() {
    auto step = makeStep("You're set",
                         "Look at another screen and start typing — focus follows. Orvane keeps "
                         "improving as you work, because every click teaches it a little more "
                         "about where you were looking.",
                         "doneStep");
    accuracyRow_ = new QWidget(this);
    accuracyRow_->setObjectName("accuracyRow");
    auto* row = new QHBoxLayout(accuracyRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    accuracySymbol_ = new QLabel(accuracyRow_);
    accuracySymbol_->setFixedSize(16, 16);
    accuracyLabel_ = new QLabel(accuracyRow_);
    accuracyLabel_->setObjectName("accuracyLabel");
    accuracyLabel_->setFont(scaledFont(0.95));
    row->addWidget(accuracySymbol_);
    row->addWidget(accuracyLabel_);
    row->addStretch();
    step.controls->addWidget(accuracyRow_);
    auto* pause = wrappedLabel(text(OnboardingFlow::pauseCallout(words())), this);
    pause->setObjectName("pauseCallout");
    pause->setFont(scaledFont(0.95));
    step.controls->addWidget(pause);
    step.controls->addStretch();
}

void OnboardingView::drawSymbols() {
    const QColor accent = accentColor();
    headerSymbol_->setPixmap(viewSymbol(ViewSymbol::eye, 24, accent, this));
    const ViewSymbol symbols[] = {ViewSymbol::camera, ViewSymbol::accessibility, ViewSymbol::scope,
                                  ViewSymbol::checkmarkSeal};
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        const QColor color = symbols[i] == ViewSymbol::checkmarkSeal ? ViewColors::green() : accent;
        steps_[i].symbol->setPixmap(viewSymbol(symbols[i], stepSymbolSize, color, this));
    }
    for (auto* symbol : grantedSymbols_) {
        symbol->setPixmap(viewSymbol(ViewSymbol::checkmarkCircle, 18, ViewColors::green(), this));
    }
    accuracySymbol_->setPixmap(
        viewSymbol(ViewSymbol::target, 16, ViewColors::secondary(this), this));
    setTextColor(stepCaption_, ViewColors::secondary(this));
    setTextColor(calibratingLabel_, ViewColors::secondary(this));
}

void OnboardingView::pressDefault() {
    if (!flow_->canAdvance()) {
        return;
    }
    if (flow_->step() < OnboardingFlow::lastStep) {
        flow_->advance();
        return;
    }
    // Last: the presenter may close us from here.
    if (auto complete = onComplete_) {
        complete();
    }
}

void OnboardingView::render() {
    const auto& flow = *flow_;
    const int step = flow.step();
    stepCaption_->setText(text(OnboardingFlow::stepCaption(step)));
    pages_->setCurrentIndex(std::clamp(step, 0, OnboardingFlow::lastStep));
    backButton_->setVisible(flow.showsBack());
    defaultButton_->setText(step < OnboardingFlow::lastStep ? "Continue" : "Done");
    defaultButton_->setEnabled(flow.canAdvance());

    const auto& error = flow.errorMessage();
    allowCamera_->setVisible(!flow.cameraGranted());
    cameraGranted_->setVisible(flow.cameraGranted());
    cameraError_->setVisible(!flow.cameraGranted() && error.has_value());
    cameraError_->setText(error ? text(*error) : QString());

    openSettings_->setVisible(!flow.axGranted());
    axGranted_->setVisible(flow.axGranted());
    relaunchCallout_->setVisible(flow.showsRelaunchHint());
    relaunchButton_->setVisible(static_cast<bool>(relaunch_));
    const auto restart = UnreachablePrograms::restartAdvice(flow.programsToRestart());
    restartPrograms_->setText(text(restart));
    // The box's height follows its text's lines only when the box itself is told.
    restartCallout_->updateGeometry();
    restartCallout_->setVisible(!restart.empty());
    const auto& bridgeState = flow.bridgeState();
    bridgeText_->setText(bridgeState ? text(DesktopBridgeText::describe(*bridgeState) +
                                            (error ? "\n" + *error : std::string()))
                                     : QString());
    bridgeCallout_->updateGeometry();
    bridgeCallout_->setVisible(bridgeState.has_value());
    enableBridge_->setVisible(bridgeState && DesktopBridgeText::canEnable(*bridgeState));

    const bool running = calibration_->isRunning.get();
    startCalibration_->setVisible(!running);
    progressBar_->setVisible(running);
    progressBar_->setValue(
        static_cast<int>(std::lround(std::clamp(runProgress_, 0.0, 1.0) * progressSteps)));
    calibratingLabel_->setVisible(running);
    calibratingLabel_->setText("Calibrating " + text(calibration_->currentScreenName.get()));
    calibrationError_->setVisible(error.has_value());
    calibrationError_->setText(error ? text(*error) : QString());

    const auto& fitError = engine_->fitError.get();
    accuracyRow_->setVisible(fitError.has_value());
    accuracyLabel_->setText(fitError ? text(OnboardingFlow::accuracyLine(*fitError)) : QString());
}

void OnboardingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    flow_->startPolling();
}

void OnboardingView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    flow_->stopPolling();
}

void OnboardingView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        if (accuracySymbol_ != nullptr) { // built
            drawSymbols();
        }
    }
}

} // namespace orvane::ui
