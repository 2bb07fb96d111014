#include "ui/MenuBarController.hpp"

#include "orvane/platform/Platform.hpp"
#include "orvane/platform/WindowServer.hpp"
#include "orvane/support/Log.hpp"
#include "orvane/support/Prefs.hpp"
#include "ui/OnboardingView.hpp"
#include "ui/SettingsView.hpp"
#include "ui/WindowPresenter.hpp"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIconEngine>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

#include <array>
#include <cstdlib>
#include <map>
#include <utility>

// The icons live in a static library: nothing would pull their resource in otherwise.
static void initialiseTrayIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace orvane::ui {
namespace {

constexpr std::uint64_t pauseChord = PauseHotKey::modifiers;

// Menus read '&' as a mnemonic marker: a display or reason with one must show it as it is.
QString menuText(const std::string& text) {
    return QString::fromStdString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

// The title and, after a tab, the chord: Qt shows that part right-aligned as the shortcut
// whatever the style thinks of shortcuts in context menus.
QString actionText(const MenuItem& item) {
    QString text = menuText(item.title);
    if (!item.shortcut.empty()) {
        text += QLatin1Char('\t') + QString::fromStdString(item.shortcut);
    }
    return text;
}

void apply(QAction& action, const MenuItem& item) {
    action.setText(actionText(item));
    action.setEnabled(item.enabled);
    action.setCheckable(item.checkable);
    action.setChecked(item.checked);
    action.setToolTip(QString::fromStdString(item.tooltip));
}

// One of our SVGs, drawn at the size asked for when it is asked for: a tray wants one size, and
// drawing every usual size up front delayed the icon's first showing. Each size drawn is kept.
class SvgIconEngine final : public QIconEngine {
public:
    explicit SvgIconEngine(QString path) : path_(std::move(path)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        if (size.isEmpty()) {
            return {};
        }
        const auto key = std::make_pair(size.width(), size.height());
        if (auto found = drawn_.find(key); found != drawn_.end()) {
            return found->second;
        }
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        QSvgRenderer(path_).render(&painter);
        painter.end();
        return drawn_.emplace(key, pixmap).first->second;
    }

    QIconEngine* clone() const override { return new SvgIconEngine(*this); }
    QString key() const override { return QStringLiteral("orvane-svg"); }

private:
    QString path_;
    std::map<std::pair<int, int>, QPixmap> drawn_;
};

bool sameShape(const std::vector<MenuItem>& a, const std::vector<MenuItem>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].separator != b[i].separator || a[i].action != b[i].action) {
            return false;
        }
    }
    return true;
}

} // namespace

MenuBarController::MenuBarController(std::shared_ptr<GazeEngine> engine,
                                     std::shared_ptr<CalibrationController> calibration,
                                     std::shared_ptr<CalibrationCoordinator> coordinator,
                                     QObject* parent)
    : QObject(parent), engine_(std::move(engine)), calibration_(std::move(calibration)),
      coordinator_(std::move(coordinator)), menu_(std::make_unique<QMenu>()) {
    menu_->setToolTipsVisible(true);
    // Some tray hosts never say that the menu opens; it is kept current all along as well.
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { refreshMenu(); });
    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(menu_.get());
    // A left click opens the menu too, as it would on a menu bar.
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger && !menu_->isVisible()) {
                    menu_->popup(QCursor::pos());
                }
            });

    QPointer<MenuBarController> self(this);
    subscriptions_.push_back(engine_->status.subscribe([self](const GazeStatus& status) {
        if (self) {
            self->render(status);
        }
    }));
    subscriptions_.push_back(
        engine_->gazePoint.subscribe([self](const std::optional<plinth::Point>& point) {
            if (self && Prefs::shared().showGazeDot()) {
                self->overlay_.update(point);
            }
        }));
    // The menu also shows these; they change without a new status.
    subscriptions_.push_back(engine_->needsRecalibration.subscribe([self](bool) {
        if (self) {
            self->refreshMenu();
        }
    }));
    subscriptions_.push_back(calibration_->isRunning.subscribe([self](bool) {
        if (self) {
            self->refreshMenu();
        }
    }));
    // Without a tray host (plain GNOME) the icon would never be seen: the desktop shows it.
    if (hasPlatform() && platform().statusIndicator && !QSystemTrayIcon::isSystemTrayAvailable()) {
        indicator_ = platform().statusIndicator;
        indicator_->onActivated = [self](const std::string& id) {
            if (!self) {
                return;
            }
            const auto index = static_cast<std::size_t>(std::strtoul(id.c_str(), nullptr, 10));
            if (index < self->shownItems_.size()) {
                self->perform(self->shownItems_[index].action);
            }
        };
        indicator_->onOpening = [self] {
            if (self) {
                self->refreshMenu(true);
            }
        };
    } else {
        tray_->show();
    }
    registerHotKey();
    showOnDesktop();
}

MenuBarController::~MenuBarController() {
    if (hotKey_ && hasPlatform() && platform().hotKeys) {
        platform().hotKeys->unregisterHotKey(*hotKey_);
    }
    subscriptions_.clear();
    if (onboardingWindow_) {
        delete onboardingWindow_.data();
    }
    if (alert_) {
        delete alert_.data();
    }
    tray_->setContextMenu(nullptr);
    if (indicator_) {
        indicator_->onActivated = nullptr;
        indicator_->onOpening = nullptr;
        indicator_->remove();
    }
}

QIcon MenuBarController::icon(StatusIcon which) {
    static std::map<StatusIcon, QIcon> cache;
    if (auto found = cache.find(which); found != cache.end()) {
        return found->second;
    }
    initialiseTrayIcons();
    const QIcon made(new SvgIconEngine(
        QStringLiteral(":/icons/%1.svg").arg(QLatin1String(StatusPresentation::iconName(which)))));
    cache.emplace(which, made);
    return made;
}

QWidget* MenuBarController::settingsWindow() const {
    return settingsWindow_.get();
}

QWidget* MenuBarController::onboardingWindow() const {
    return onboardingWindow_.data();
}

QMessageBox* MenuBarController::alert() const {
    return alert_.data();
}

void MenuBarController::render(const GazeStatus& status) {
    const StatusIcon which = StatusPresentation::icon(status);
    if (shownIcon_ != which) {
        shownIcon_ = which;
        tray_->setIcon(icon(which));
    }
    const QString summary = QString::fromStdString(StatusPresentation::summary(status));
    if (tray_->toolTip() != summary) {
        tray_->setToolTip(summary);
    }
    // Read at every status, so a change made in the settings is followed at the next one.
    overlay_.setVisible(StatusPresentation::showsGazeDot(status, Prefs::shared().showGazeDot()));
    refreshMenu();
    if (indicatorTooltip_ != summary || indicatorIcon_ != which) {
        showOnDesktop();
    }
}

void MenuBarController::showOnDesktop() {
    if (!indicator_ || !shownIcon_) {
        return;
    }
    indicatorIcon_ = *shownIcon_;
    indicatorTooltip_ = tray_->toolTip();
    std::vector<IndicatorItem> items;
    for (std::size_t i = 0; i < shownItems_.size(); ++i) {
        const MenuItem& item = shownItems_[i];
        if (item.separator) {
            items.push_back({});
            continue;
        }
        std::string label = item.title;
        if (!item.shortcut.empty()) {
            label += "  " + item.shortcut;
        }
        items.push_back({std::to_string(i), label, item.enabled,
                         item.checkable ? std::optional<bool>(item.checked) : std::nullopt});
    }
    const auto path = iconFile(*shownIcon_);
    if (!path.empty()) {
        indicator_->show(path, indicatorTooltip_.toStdString(), items);
    }
}

std::string MenuBarController::iconFile(StatusIcon which) {
    // The desktop draws from a file: our SVGs are copied out of the resources once.
    const QString name = QLatin1String(StatusPresentation::iconName(which));
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/orvane-icons";
    const QString path = folder + "/" + name + ".svg";
    if (!QFileInfo::exists(path)) {
        initialiseTrayIcons();
        QDir().mkpath(folder);
        QFile::remove(path + ".part");
        if (!QFile::copy(":/icons/" + name + ".svg", path + ".part") ||
            !QFile::rename(path + ".part", path)) {
            return {};
        }
    }
    return path.toStdString();
}

MenuState MenuBarController::menuState() const {
    MenuState state;
    state.status = engine_->status;
    state.isPaused = coordinator_->isPaused();
    state.needsRecalibration = engine_->needsRecalibration;
    state.calibrationRunning = calibration_->isRunning;
    state.showGazeDot = Prefs::shared().showGazeDot();
    if (const auto& monitor = platform().inputMonitor) {
        state.reducedGuards = monitor->reducedGuards();
    }
    return state;
}

void MenuBarController::refreshMenu(bool force) {
    const MenuState state = menuState();
    if (!force && shownMenu_ == state) {
        return;
    }
    shownMenu_ = state;
    static const PlatformWords noWords;
    const auto& words = platform().words;
    auto items = StatusPresentation::menu(state, words ? *words : noWords);
    for (auto& item : items) {
        // A chord that could not be had is not offered.
        if (item.action == MenuAction::togglePause && !hotKey_) {
            item.shortcut.clear();
        }
        if (item.action == MenuAction::relaunch && !relaunch_) {
            item.enabled = false;
        }
    }
    fillMenu(items);
}

void MenuBarController::fillMenu(const std::vector<MenuItem>& items) {
    const auto actions = menu_->actions();
    // Same items as before: change them in place, so that an open menu does not lose the item
    // under the pointer as the status goes by.
    if (sameShape(items, shownItems_) && actions.size() == static_cast<qsizetype>(items.size())) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (!items[i].separator && !(items[i] == shownItems_[i])) {
                apply(*actions[static_cast<qsizetype>(i)], items[i]);
            }
        }
        shownItems_ = items;
        showOnDesktop();
        return;
    }
    menu_->clear();
    for (const auto& item : items) {
        if (item.separator) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(QString());
        apply(*action, item);
        const MenuAction what = item.action;
        if (what != MenuAction::none) {
            connect(action, &QAction::triggered, this, [this, what] { perform(what); });
        }
    }
    shownItems_ = items;
    showOnDesktop();
}

void MenuBarController::perform(MenuAction action) {
    switch (action) {
    case MenuAction::none:
        return;
    case MenuAction::togglePause:
        togglePause();
        return;
    case MenuAction::recalibrate:
        startCalibration();
        return;
    case MenuAction::toggleGazeDot:
        toggleDot();
        return;
    case MenuAction::finishSetup:
        openOnboarding();
        return;
    case MenuAction::relaunch:
        relaunch();
        return;
    case MenuAction::openSettings:
        openSettings();
        return;
    case MenuAction::quit:
        QCoreApplication::quit();
        return;
    }
}

void MenuBarController::togglePause() {
    coordinator_->togglePause();
    // During a calibration only the state to return to changes: no new status says so.
    refreshMenu();
}

void MenuBarController::startCalibration() {
    QPointer<MenuBarController> self(this);
    coordinator_->recalibrate([self](bool success, std::optional<std::string> message) {
        if (!self) {
            return;
        }
        if (success) {
            self->showAlert(QStringLiteral("Calibration complete"),
                            QStringLiteral("Orvane is tracking again."));
        } else if (message) {
            self->showAlert(QStringLiteral("Calibration stopped"),
                            QString::fromStdString(*message));
        }
        self->refreshMenu();
    });
}

void MenuBarController::toggleDot() {
    auto& prefs = Prefs::shared();
    const bool show = !prefs.showGazeDot();
    prefs.defaults().setBool(PrefKey::showGazeDot, show);
    overlay_.setVisible(StatusPresentation::showsGazeDot(engine_->status, show));
    refreshMenu();
}

void MenuBarController::setRelaunch(std::function<void()> relaunch) {
    relaunch_ = std::move(relaunch);
    if (onboardingWindow_) {
        onboardingWindow_->setRelaunch(relaunch_);
    }
    refreshMenu(true);
}

void MenuBarController::relaunch() {
    if (relaunch_) {
        relaunch_();
    }
}

void MenuBarController::openSettings() {
    if (settingsWindow_) {
        bringToFront(*settingsWindow_);
        return;
    }
    QPointer<MenuBarController> self(this);
    settingsWindow_ = std::make_unique<SettingsView>(engine_, calibration_, [self] {
        if (self) {
            self->startCalibration();
        }
    });
    presentWindow(*settingsWindow_, QStringLiteral("Orvane Settings"), 500, 620);
}

void MenuBarController::openOnboarding() {
    if (onboardingWindow_) {
        bringToFront(*onboardingWindow_);
        return;
    }
    QPointer<MenuBarController> self(this);
    auto* view = new OnboardingView(engine_, calibration_, coordinator_, [self] {
        if (!self) {
            return;
        }
        if (auto* window = self->onboardingWindow_.data()) {
            window->close();
            // This runs inside the window's own handler: it goes once that has returned.
            window->deleteLater();
        }
        self->onboardingWindow_ = nullptr;
        self->engine_->recalibrated();
        self->engine_->start();
    });
    if (relaunch_) {
        view->setRelaunch(relaunch_);
    }
    onboardingWindow_ = view;
    presentWindow(*view, QStringLiteral("Set up Orvane"), 520, 420);
}

void MenuBarController::registerHotKey() {
    auto& services = platform();
    if (!services.hotKeys) {
        Log::error("no global hot keys on this desktop: pause and resume from the tray menu");
        return;
    }
    QPointer<MenuBarController> self(this);
    hotKey_ = services.hotKeys->registerHotKey(PauseHotKey::key, pauseChord, [self] {
        if (self) {
            self->togglePause();
        }
    });
    if (!hotKey_) {
        Log::error("the pause hot key " + services.hotKeys->describe(PauseHotKey::key, pauseChord) +
                   " could not be registered (another application may use it): pause and "
                   "resume from the tray menu");
    }
    refreshMenu(true);
}

void MenuBarController::showAlert(const QString& title, const QString& text) {
    // Not modal: a run of the event loop inside a completion could start the next calibration
    // before this one has finished reporting.
    auto* box =
        new QMessageBox(QMessageBox::Information, QStringLiteral("Orvane"), title, QMessageBox::Ok);
    box->setInformativeText(text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    alert_ = box;
    box->show();
    bringToFront(*box);
}

} // namespace orvane::ui
