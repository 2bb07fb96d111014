#include "ui/SettingsView.hpp"

#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/camera/CameraCapture.hpp"
#include "orvane/focus/PasswordPrompts.hpp"
#include "orvane/focus/UnreachablePrograms.hpp"
#include "orvane/platform/Platform.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"
#include "plinth/Numeric.hpp"
#include "ui/ViewSymbols.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QStringList>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace orvane::ui {
namespace {

PreferencesStore& store() {
    return Prefs::shared().defaults();
}

QString whole(double value, const char* unit) {
    return QString::number(plinth::truncatedToInt64(value)) + unit;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

QLabel* wrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QVBoxLayout* addSection(QVBoxLayout* into, const QString& title, QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    group->setFont(scaledFont(1.0, QFont::DemiBold));
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(14, 10, 14, 12);
    layout->setSpacing(6);
    into->addWidget(group);
    return layout;
}

// Group titles are bold; what is inside them is not.
void plainFont(QWidget* widget) {
    widget->setFont(scaledFont(1.0));
}

} // namespace

SettingsView::SettingsView(std::shared_ptr<GazeEngine> engine,
                           std::shared_ptr<CalibrationController> calibration,
                           std::function<void()> onRecalibrate, QWidget* parent)
    : QWidget(parent), engine_(std::move(engine)), calibration_(std::move(calibration)),
      onRecalibrate_(std::move(onRecalibrate)) {
    setObjectName("settings");
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    // The form is taller than the window: it scrolls rather than being cut off.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("settingsScroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    root->addWidget(scroll);

    auto* form = new QWidget(scroll);
    form->setObjectName("settingsForm");
    auto* sections = new QVBoxLayout(form);
    sections->setContentsMargins(16, 14, 16, 16);
    sections->setSpacing(14);
    if (platform().loginItems) {
        buildGeneral(addSection(sections, "General", form));
    }
    buildSwitching(addSection(sections, "Switching", form));
    buildStayingOut(addSection(sections, "Staying out of the way", form));
    buildAccuracy(addSection(sections, "Accuracy", form));
    buildCamera(addSection(sections, "Camera", form));
    sections->addStretch();
    scroll->setWidget(form);

    applyColors();
    refresh();
    subscriptions_.push_back(
        engine_->fitError.subscribe([this](const std::optional<double>&) { renderStatus(); }));
    subscriptions_.push_back(
        engine_->needsRecalibration.subscribe([this](bool) { renderStatus(); }));
    subscriptions_.push_back(calibration_->isRunning.subscribe([this](bool) { renderStatus(); }));
}

SettingsView::~SettingsView() = default;

void SettingsView::addSliderRow(SliderRow& row, QVBoxLayout* into, const QString& title,
                                double maximum, const char* name) {
    auto* heading = new QHBoxLayout;
    auto* label = new QLabel(title, this);
    plainFont(label);
    row.value = new QLabel(this);
    row.value->setObjectName(QString(name) + "Value");
    // The desktop's sans faces draw digits at one width: values do not jitter as they change.
    plainFont(row.value);
    row.value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    secondaryLabels_.push_back(row.value);
    heading->addWidget(label);
    heading->addStretch();
    heading->addWidget(row.value);
    into->addLayout(heading);

    row.slider = new QSlider(Qt::Horizontal, this);
    row.slider->setObjectName(QString(name) + "Slider");
    row.slider->setRange(0, static_cast<int>(std::lround(maximum / row.unit)));
    row.slider->setSingleStep(1);
    row.slider->setPageStep(2);
    row.slider->setAccessibleName(title);
    into->addWidget(row.slider);
    // Written on every move, not only when a drag ends.
    connect(row.slider, &QSlider::valueChanged, this, [this, &row](int position) {
        const double value = position * row.unit;
        row.write(value);
        row.value->setText(row.format(value));
    });
}

void SettingsView::showSliderValue(const SliderRow& row) {
    const double value = row.read();
    row.value->setText(row.format(value));
    const QSignalBlocker quiet(row.slider);
    const double position = std::isfinite(value) ? std::round(value / row.unit) : 0;
    row.slider->setValue(static_cast<int>(
        std::clamp(position, double(row.slider->minimum()), double(row.slider->maximum()))));
}

QCheckBox* SettingsView::addToggle(QVBoxLayout* into, const QString& title, const char* key,
                                   const char* name) {
    auto* toggle = new QCheckBox(title, this);
    toggle->setObjectName(name);
    plainFont(toggle);
    into->addWidget(toggle);
    toggles_.emplace_back(toggle, key);
    connect(toggle, &QCheckBox::toggled, this, [key](bool on) { store().setBool(key, on); });
    return toggle;
}

QLabel* SettingsView::addCaption(QVBoxLayout* into, const QString& caption, bool underToggle) {
    auto* label = wrappedLabel(caption, this);
    label->setFont(scaledFont(0.85));
    if (underToggle) {
        // Lined up with the toggle's text, not its box.
        const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                           style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
        label->setContentsMargins(indent, 0, 0, 0);
    }
    secondaryLabels_.push_back(label);
    into->addWidget(label);
    into->addSpacing(4);
    return label;
}

void SettingsView::buildGeneral(QVBoxLayout* into) {
    startAtLogin_ = new QCheckBox("Start Orvane when you log in", this);
    startAtLogin_->setObjectName("startAtLoginToggle");
    plainFont(startAtLogin_);
    into->addWidget(startAtLogin_);
    startAtLoginProblem_ = addCaption(into, QString(), true);
    startAtLoginProblem_->setObjectName("startAtLoginProblem");
    startAtLoginProblem_->hide();
    // Not a preference: the session's autostart entry is the only record of it.
    connect(startAtLogin_, &QCheckBox::toggled, this, [this](bool on) { changeStartAtLogin(on); });
}

void SettingsView::changeStartAtLogin(bool on) {
    const auto change = platform().loginItems->setStartsAtLogin(on);
    if (change.succeeded) {
        startAtLoginProblem_->hide();
    } else {
        Log::error(std::string("Could not turn ") + (on ? "on" : "off") +
                   " starting at login: " + change.problem);
        startAtLoginProblem_->setText("Orvane could not change this: " +
                                      QString::fromStdString(change.problem));
        startAtLoginProblem_->show();
    }
    // Whatever happened, the box shows what the session will do.
    showStartAtLogin();
}

void SettingsView::showStartAtLogin() {
    if (startAtLogin_ == nullptr) {
        return;
    }
    const QSignalBlocker quiet(startAtLogin_);
    startAtLogin_->setChecked(platform().loginItems->startsAtLogin());
}

void SettingsView::buildSwitching(QVBoxLayout* into) {
    settle_.unit = 50;
    settle_.read = [] {
        return double(std::max<std::int64_t>(0, Prefs::shared().settleMilliseconds()));
    };
    settle_.write = [](double value) {
        store().setInteger(PrefKey::settleMilliseconds, plinth::truncatedToInt64(value));
    };
    settle_.format = [](double value) {
        return whole(value, " ms");
    };
    addSliderRow(settle_, into, "Settle before switching", 1500, "settle");
    addCaption(into,
               "How long your gaze must rest before focus follows. Raise it if quick glances "
               "steal focus.",
               false);

    turn_.unit = 5;
    turn_.read = [] {
        return Prefs::shared().turnThreshold();
    };
    turn_.write = [](double value) {
        store().setReal(PrefKey::turnThreshold, value);
    };
    turn_.format = [](double value) {
        return whole(value, "%");
    };
    addSliderRow(turn_, into, "Head turn threshold", 100, "turn");
    into->addSpacing(4);

    paneDelay_.unit = 50;
    paneDelay_.read = [] {
        return double(std::max<std::int64_t>(0, Prefs::shared().paneDelayMilliseconds()));
    };
    paneDelay_.write = [](double value) {
        store().setInteger(PrefKey::paneDelayMilliseconds, plinth::truncatedToInt64(value));
    };
    paneDelay_.format = [](double value) {
        return whole(value, " ms");
    };
    addSliderRow(paneDelay_, into, "Pane focus delay", 1500, "paneDelay");
    into->addSpacing(4);

    addToggle(into, "Focus split panes in editors and terminals", PrefKey::focusPanes,
              "focusPanesToggle");
    addToggle(into, "Move the pointer to the focused screen", PrefKey::moveCursor,
              "moveCursorToggle");
}

void SettingsView::buildStayingOut(QVBoxLayout* into) {
    typingPause_.unit = 0.5;
    typingPause_.read = [] {
        return Prefs::shared().typingPauseSeconds();
    };
    typingPause_.write = [](double value) {
        store().setReal(PrefKey::typingPauseSeconds, value);
    };
    typingPause_.format = [](double value) {
        return QString::asprintf("%.1f s", value);
    };
    addSliderRow(typingPause_, into, "Pause after typing", 10, "typingPause");
    addCaption(into, "Focus never moves mid-keystroke, nor for this long after you stop.", false);
    addToggle(into, "Stand down while the mouse is in use", PrefKey::respectMouse,
              "respectMouseToggle");
    // Password entries always hold focus; what Orvane cannot see of them is said here.
    passwordNotes_ = addCaption(into, QString(), false);
    passwordNotes_->setObjectName("passwordPromptNotes");
    passwordNotes_->hide();
    if (platform().inputDevices) {
        buildInputDevices(into);
    }
}

void SettingsView::buildInputDevices(QVBoxLayout* into) {
    inputDevices_ = new QCheckBox("Read keyboards and mice directly", this);
    inputDevices_->setObjectName("inputDevicesToggle");
    plainFont(inputDevices_);
    into->addWidget(inputDevices_);
    addCaption(into,
               "This desktop does not show Orvane your typing, shortcuts or clicks in other apps, "
               "so focus may move while you type and clicks cannot improve accuracy. Turned on, "
               "Orvane reads your keyboards and mice itself: it sees every key pressed anywhere "
               "on the system, uses keys only to tell typing from shortcuts, and never keeps or "
               "records which keys were pressed. The access comes from Orvane's udev rule "
               "(70-orvane-input.rules), which an administrator switches on by linking it into "
               "/etc/udev/rules.d: while you sit at this computer, the programs you run may then "
               "read its keyboards and mice; once you log out or another user's session takes "
               "the screen, that ends. To undo it, turn this off; to take the access away from "
               "every program, remove that link. Joining the input group is not needed, and "
               "would let every program of yours read every keyboard, at any seat, for good.",
               true)
        ->setObjectName("inputDevicesCaption");
    inputDevicesProblem_ = addCaption(into, QString(), true);
    inputDevicesProblem_->setObjectName("inputDevicesProblem");
    inputDevicesProblem_->hide();
    connect(inputDevices_, &QCheckBox::toggled, this, [this](bool on) { changeInputDevices(on); });
}

void SettingsView::changeInputDevices(bool on) {
    std::string problem;
    const bool changed = platform().inputDevices->setEnabled(on, &problem);
    // Only what took effect is remembered: a failed start stays off.
    if (changed) {
        store().setBool(PrefKey::readInputDevices, on);
        Log::info(on ? "reading the input devices" : "no longer reading the input devices");
    } else {
        Log::error("Could not read the input devices: " + problem);
    }
    showInputDevices(changed ? QString()
                             : "Orvane could not read them: " + QString::fromStdString(problem));
}

void SettingsView::showInputDevices(const QString& failure) {
    if (inputDevices_ == nullptr) {
        return;
    }
    const auto& devices = platform().inputDevices;
    const bool wanted = Prefs::shared().readInputDevices();
    const QSignalBlocker quiet(inputDevices_);
    inputDevices_->setChecked(wanted);
    QString problem = failure;
    bool usable = true;
    if (problem.isEmpty() && !devices->enabled()) {
        const auto readability = devices->readability();
        usable = readability.readable;
        if (!usable) {
            problem =
                QString(wanted ? "Turned on, but Orvane cannot read them: " : "Not available: ") +
                QString::fromStdString(readability.reason);
        } else if (wanted) {
            problem = "Turned on, but not working: turn it off and on again to retry.";
        }
    }
    // What is on can always be turned off.
    inputDevices_->setEnabled(usable || wanted);
    inputDevicesProblem_->setText(problem);
    inputDevicesProblem_->setVisible(!problem.isEmpty());
}

void SettingsView::buildAccuracy(QVBoxLayout* into) {
    addToggle(into, "Learn from my clicks", PrefKey::learnFromClicks, "learnToggle");
    addCaption(into,
               "Every click is treated as a hint about where you were looking, so accuracy "
               "improves as you work.",
               true);

    accuracyRow_ = new QWidget(this);
    accuracyRow_->setObjectName("accuracyRow");
    auto* row = new QHBoxLayout(accuracyRow_);
    row->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel("Current accuracy", accuracyRow_);
    plainFont(label);
    accuracyValue_ = new QLabel(accuracyRow_);
    accuracyValue_->setObjectName("accuracyValue");
    plainFont(accuracyValue_);
    row->addWidget(label);
    row->addStretch();
    row->addWidget(accuracyValue_);
    into->addWidget(accuracyRow_);

    driftWarning_ = new QWidget(this);
    driftWarning_->setObjectName("driftWarning");
    auto* warning = new QHBoxLayout(driftWarning_);
    warning->setContentsMargins(0, 2, 0, 2);
    warning->setSpacing(8);
    driftSymbol_ = new QLabel(driftWarning_);
    driftSymbol_->setFixedSize(16, 16);
    auto* text = wrappedLabel("You're sitting at a different distance than when you calibrated. "
                              "Recalibrating will help.",
                              driftWarning_);
    text->setFont(scaledFont(0.95));
    warning->addWidget(driftSymbol_, 0, Qt::AlignTop);
    warning->addWidget(text, 1);
    into->addWidget(driftWarning_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    recalibrate_ = new QPushButton("Recalibrate…", this);
    recalibrate_->setObjectName("recalibrateButton");
    resetLearning_ = new QPushButton("Reset Learning", this);
    resetLearning_->setObjectName("resetLearningButton");
    plainFont(recalibrate_);
    plainFont(resetLearning_);
    giveRoom(recalibrate_);
    giveRoom(resetLearning_);
    buttons->addWidget(recalibrate_);
    buttons->addWidget(resetLearning_);
    buttons->addStretch();
    into->addLayout(buttons);
    connect(recalibrate_, &QPushButton::clicked, this, [this] {
        if (onRecalibrate_) {
            onRecalibrate_();
        }
    });
    connect(resetLearning_, &QPushButton::clicked, this, [this] { resetLearning(); });
}

void SettingsView::buildCamera(QVBoxLayout* into) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel("Camera", this);
    plainFont(label);
    cameraPicker_ = new QComboBox(this);
    cameraPicker_->setObjectName("cameraPicker");
    cameraPicker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cameraPicker_->setMinimumContentsLength(16);
    cameraPicker_->setAccessibleName("Camera");
    plainFont(cameraPicker_);
    label->setBuddy(cameraPicker_);
    row->addWidget(label);
    row->addWidget(cameraPicker_, 1);
    into->addLayout(row);
    into->addSpacing(2);
    // Only what the user picks counts; filling the list changes nothing.
    connect(cameraPicker_, &QComboBox::activated, this, [this](int index) { pickCamera(index); });

    addToggle(into, "Show the gaze dot", PrefKey::showGazeDot, "showDotToggle");
    addCaption(into, "Draws where Orvane thinks you're looking. Useful for checking calibration.",
               true);
}

void SettingsView::refresh() {
    for (const auto* row : {&settle_, &turn_, &paneDelay_, &typingPause_}) {
        showSliderValue(*row);
    }
    for (const auto& [toggle, key] : toggles_) {
        const QSignalBlocker quiet(toggle);
        toggle->setChecked(store().boolean(key));
    }
    showStartAtLogin();
    showInputDevices();
    showPasswordNotes();
    reloadCameras();
    renderStatus();
}

void SettingsView::showPasswordNotes() {
    std::vector<std::string> notes;
    if (auto advice = UnreachablePrograms::restartAdvice(UnreachablePrograms::list());
        !advice.empty()) {
        notes.push_back(std::move(advice) + ".");
    }
    for (auto& sentence : PasswordPrompts::limits()) {
        notes.push_back(std::move(sentence));
    }
    QStringList lines;
    for (const auto& note : notes) {
        lines << QString::fromStdString(note);
    }
    passwordNotes_->setText(lines.join("\n"));
    passwordNotes_->setVisible(!lines.isEmpty());
}

void SettingsView::reloadCameras() {
    const QSignalBlocker quiet(cameraPicker_);
    cameraPicker_->clear();
    cameraPicker_->addItem("Automatic", QString());
    const auto chosen = Prefs::shared().cameraID().value_or(std::string());
    int selected = 0;
    for (const auto& camera : CameraCapture::availableCameras()) {
        cameraPicker_->addItem(QString::fromStdString(camera.localizedName),
                               QString::fromStdString(camera.uniqueID));
        if (camera.uniqueID == chosen) {
            selected = cameraPicker_->count() - 1;
        }
    }
    if (!chosen.empty() && selected == 0) {
        // Chosen before and unplugged now: say so rather than pretend "Automatic".
        cameraPicker_->addItem(QString::fromStdString(chosen) + " (not connected)",
                               QString::fromStdString(chosen));
        selected = cameraPicker_->count() - 1;
    }
    cameraPicker_->setCurrentIndex(selected);
}

void SettingsView::pickCamera(int index) {
    if (index < 0) {
        return;
    }
    Prefs::shared().setCameraID(cameraPicker_->itemData(index).toString().toStdString());
    engine_->restartCamera();
}

void SettingsView::resetLearning() {
    CalibrationStore::shared().clear();
    engine_->recalibrated();
}

void SettingsView::renderStatus() {
    const auto& fitError = engine_->fitError.get();
    accuracyRow_->setVisible(fitError.has_value());
    if (fitError) {
        accuracyValue_->setText("about " + QString::number(plinth::truncatedToInt64(*fitError)) +
                                " points off");
        setTextColor(accuracyValue_, *fitError >= poorAccuracy ? ViewColors::orange()
                                                               : ViewColors::secondary(this));
    }
    driftWarning_->setVisible(engine_->needsRecalibration.get());
    recalibrate_->setEnabled(!calibration_->isRunning.get());
}

void SettingsView::applyColors() {
    for (auto* label : secondaryLabels_) {
        setTextColor(label, ViewColors::secondary(this));
    }
    for (auto* problem : {startAtLoginProblem_, inputDevicesProblem_}) {
        if (problem != nullptr) {
            setTextColor(problem, ViewColors::orange());
        }
    }
    driftSymbol_->setPixmap(
        viewSymbol(ViewSymbol::warningTriangle, 16, ViewColors::orange(), this));
}

void SettingsView::showEvent(QShowEvent* event) {
    // Kept for the life of the app: what it shows may have changed while it was hidden.
    refresh();
    QWidget::showEvent(event);
}

void SettingsView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Back to a window left open: the tray menu may have changed a preference meanwhile.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        refresh();
    }
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) &&
        driftSymbol_ != nullptr) {
        applyColors();
        renderStatus();
    }
}

} // namespace orvane::ui
