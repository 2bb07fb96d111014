// Draws every window and state of the application over a simulated desktop and saves each as
// a PNG, for the documentation. Run on an X server (scripts/screenshots.sh uses the throw-away
// desktop):
//
//   orvane_screenshots <output directory>

#include "backends/linux/LinuxWords.hpp"
#include "backends/linux/atspi/AtspiWorker.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "linux/ui/X11UiTestSupport.hpp"
#include "orvane/app/CalibrationCoordinator.hpp"
#include "orvane/calibration/CalibrationController.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/engine/GazeEngine.hpp"
#include "orvane/focus/FocusSwitcher.hpp"
#include "ui/CalibrationScreenView.hpp"
#include "ui/GazeOverlay.hpp"
#include "ui/MenuBarController.hpp"
#include "ui/OnboardingView.hpp"
#include "ui/SettingsView.hpp"
#include "ui/WindowPresenter.hpp"
#include "ui/x11/X11WindowControl.hpp"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvane {
namespace {

using namespace std::chrono_literals;

QString outputDirectory;
int failures = 0;

using ui::test::waitUntil;

// Lets animations and posted layouts run for a while.
void spin(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

void save(const QImage& image, const char* name) {
    const QString path = outputDirectory + "/" + name;
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

void shoot(QWidget& widget, const char* name) {
    QCoreApplication::processEvents(); // pending layouts
    save(widget.grab().toImage(), name);
}

void shown(QWidget& widget) {
    if (!waitUntil([&] {
            return widget.isVisible() && widget.windowHandle() &&
                   widget.windowHandle()->isExposed();
        })) {
        std::fprintf(stderr, "%s was never exposed\n", widget.metaObject()->className());
    }
}

template <class Widget> Widget& child(QWidget& parent, const char* name) {
    auto* found = parent.findChild<Widget*>(name);
    if (!found) {
        std::fprintf(stderr, "no %s\n", name);
        std::abort();
    }
    return *found;
}

// A simulated desktop as a user has it: two displays, an editor and a terminal, a calibration
// that maps yaw onto x and pitch onto y, and a user in front of the camera.
class Scene {
public:
    Scene() {
        *desktop.words = linuxbackend::linuxWords();
        desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
        desktop.launchApplication(501, "org.example.Editor", "Editor");
        desktop.launchApplication(502, "org.example.Terminal", "Terminal");
        desktop.openWindow(501, {100, 100, 1600, 900}, "notes.txt");
        desktop.openWindow(502, {2020, 100, 1600, 900}, "shell");
        desktop.workspace->setFrontmost(501);
        calibrate();
        faceToward({900, 500});
        engine = GazeEngine::make();
        calibration = CalibrationController::make();
        coordinator = std::make_shared<CalibrationCoordinator>(engine, calibration);
    }

    void faceToward(plinth::Point target) {
        auto pose = desktop.head->pose();
        pose.yaw = (target.x - 1920) / 6400;
        pose.pitch = (540 - target.y) / 2000;
        desktop.head->setPose(pose);
    }

    // The user turns toward each calibration dot as it appears.
    void followDots() {
        watch = calibration->dotPosition.subscribe([this](plinth::Point dot) {
            for (const auto& display : desktop.displays->screens()) {
                if (FocusSwitcher::key(display) == calibration->activeScreenID.get()) {
                    const auto& frame = display.frame;
                    faceToward({frame.x + dot.x, frame.y + dot.y});
                }
            }
        });
    }

    static void calibrate() {
        std::vector<plinth::CalibrationSample> samples;
        int index = 0;
        for (double yaw = -0.3; yaw <= 0.31; yaw += 0.1) {
            for (double pitch = -0.2; pitch <= 0.21; pitch += 0.1) {
                plinth::HeadPose pose{
                    yaw, pitch, 0, 0.5 + 0.01 * (index % 3), 0.5 + 0.01 * (index % 2), 0.04, 0};
                samples.push_back({pose.features(), 1920 + yaw * 6400, 540 - pitch * 2000, 0.04});
                ++index;
            }
        }
        CalibrationStore::shared().replace(samples);
    }

    sim::SimDesktop desktop;
    std::shared_ptr<GazeEngine> engine;
    std::shared_ptr<CalibrationController> calibration;
    std::shared_ptr<CalibrationCoordinator> coordinator;
    Subscription watch;
};

void onboarding() {
    Scene scene;
    auto& desktop = scene.desktop;
    CalibrationStore::shared().clear();
    desktop.camera->setAuthorization(CameraAuthorization::notDetermined);
    desktop.accessibility->setTrusted(false);
    ui::OnboardingView view(scene.engine, scene.calibration, scene.coordinator, [] {});
    view.setRelaunch([] {});
    ui::presentWindow(view, "Set up Orvane", 520, 420);
    shown(view);
    auto& next = child<QPushButton>(view, "defaultButton");
    shoot(view, "onboarding-1-camera.png");

    child<QPushButton>(view, "allowCamera").click();
    desktop.settle();
    next.click();
    // Granted, with two programs that were running before and have not joined the bus.
    desktop.words->relaunchNoticesGrant = false;
    desktop.accessibility->setTrusted(true);
    for (const auto& [pid, name] : {std::pair{601, "gedit"}, std::pair{602, "Files"}}) {
        desktop.launchApplication(pid, std::string("org.example.") + name, name);
        desktop.openWindow(pid, {100.0 * pid - 60000, 100, 800, 600});
        desktop.accessibility->removeApplication(pid);
    }
    desktop.run(1.0);
    shoot(view, "onboarding-2-accessibility.png");
    next.click();
    scene.followDots();
    child<QPushButton>(view, "startCalibration").click();
    desktop.run(9.5); // four dots of ten recorded
    shoot(view, "onboarding-3-calibrate.png");

    desktop.run(20.0);
    scene.engine->fitError = 41.3;
    shoot(view, "onboarding-4-done.png");
}

void settings() {
    Scene scene;
    scene.engine->start();
    scene.desktop.run(1.0);
    scene.engine->fitError = 41.3; // a made-up calibration fits exactly; a real one does not
    ui::SettingsView view(scene.engine, scene.calibration, [] {});
    ui::presentWindow(view, "Orvane Settings", 500, 620);
    shown(view);
    auto* scroll = view.findChild<QScrollArea*>();
    shoot(view, "settings.png");
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    shoot(view, "settings-scrolled.png");
}

void calibrationScreens() {
    Scene scene;
    auto& controller = *scene.calibration;
    controller.currentScreenName = std::string("Display 1");
    controller.activeScreenID = std::string("active");
    controller.dotPosition = plinth::Point{0.5 * 1280, 0.5 * 1080};
    controller.progress = 0.4;
    controller.faceVisible = true;
    controller.dotIsSampling = true;
    for (const auto& [id, name] : {std::pair{"active", "calibration-active.png"},
                                   std::pair{"inactive", "calibration-inactive.png"}}) {
        ui::CalibrationScreenView view(scene.calibration, id);
        view.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        view.resize(1280, 1080);
        view.move(0, 0);
        view.show();
        shown(view);
        spin(600ms); // the dot settles into its sampling look
        shoot(view, name);
    }
}

void trayMenus() {
    Scene scene;
    ui::MenuBarController controller(scene.engine, scene.calibration, scene.coordinator);
    controller.setRelaunch([] {});
    QMenu& menu = controller.menu();
    auto shootMenu = [&](const char* name) {
        menu.popup(QPoint(3700, 30));
        shown(menu);
        spin(100ms);
        shoot(menu, name);
        menu.hide();
    };
    scene.engine->status = GazeStatus::tracking("Display 1");
    shootMenu("tray-menu-tracking.png");
    scene.engine->setPaused(true);
    scene.engine->needsRecalibration = true;
    shootMenu("tray-menu-paused.png");
    scene.engine->setPaused(false);
    scene.engine->needsRecalibration = false;
    scene.engine->status = GazeStatus::needsAccessibility();
    shootMenu("tray-menu-setup.png");
}

void trayIcons() {
    Scene scene; // the icons' colours may follow the platform's accent
    const std::vector<std::pair<StatusIcon, const char*>> icons = {
        {StatusIcon::tracking, "tracking"},
        {StatusIcon::waiting, "waiting"},
        {StatusIcon::paused, "paused"},
        {StatusIcon::noFace, "no face"},
        {StatusIcon::setup, "set-up needed"}};
    constexpr int cell = 110, iconSide = 44, stripHeight = 96;
    QImage image(cell * static_cast<int>(icons.size()), 2 * stripHeight, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = QApplication::font();
    font.setPixelSize(12);
    painter.setFont(font);
    for (int strip = 0; strip < 2; ++strip) {
        const bool dark = strip == 1;
        const QRect band(0, strip * stripHeight, image.width(), stripHeight);
        painter.fillRect(band, dark ? QColor(0x2b, 0x2b, 0x2e) : QColor(0xf2, 0xf2, 0xf2));
        for (std::size_t i = 0; i < icons.size(); ++i) {
            const int x = static_cast<int>(i) * cell;
            const QIcon icon = ui::MenuBarController::icon(icons[i].first);
            painter.drawPixmap(x + (cell - iconSide) / 2, band.y() + 16,
                               icon.pixmap(iconSide, iconSide));
            painter.setPen(dark ? QColor(0xdd, 0xdd, 0xdd) : QColor(0x33, 0x33, 0x33));
            painter.drawText(QRect(x, band.y() + 16 + iconSide + 8, cell, 20), Qt::AlignCenter,
                             QString::fromUtf8(icons[i].second));
        }
    }
    painter.end();
    save(image, "tray-icons.png");
}

void gazeDot() {
    Scene scene;
    // Drawn translucent where a compositor blends it; the script starts one.
    if (auto connection = ui::x11::openConnection()) {
        waitUntil([&] { return ui::x11::isCompositing(*connection); }, 3s);
    }
    ui::GazeOverlay overlay;
    overlay.setVisible(true);
    overlay.update(plinth::Point{600, 400});
    QWidget* dot = overlay.window();
    if (!dot) {
        std::fprintf(stderr, "no gaze dot window\n");
        ++failures;
        return;
    }
    shown(*dot);
    QCoreApplication::processEvents();
    const QImage drawn = dot->grab().toImage();
    // On a light and a dark backdrop, as it floats over windows.
    constexpr int zoom = 4, margin = 12;
    const QSize side = drawn.size() * zoom;
    QImage image(2 * (side.width() + 2 * margin), side.height() + 2 * margin, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, image.width() / 2, image.height()), QColor(0xf2, 0xf2, 0xf2));
    painter.fillRect(QRect(image.width() / 2, 0, image.width() / 2, image.height()),
                     QColor(0x2b, 0x2b, 0x2e));
    const QImage large = drawn.scaled(side, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    painter.drawImage(margin, margin, large);
    painter.drawImage(image.width() / 2 + margin, margin, large);
    painter.end();
    save(image, "gaze-dot.png");
}

} // namespace
} // namespace orvane

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    orvane::linuxbackend::QtLoopWithoutGLib withoutGLib;
    QApplication application(argc, argv);
    withoutGLib.restore();
    QApplication::setQuitOnLastWindowClosed(false);
    orvane::outputDirectory = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(orvane::outputDirectory)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    orvane::onboarding();
    orvane::settings();
    orvane::calibrationScreens();
    orvane::trayMenus();
    orvane::trayIcons();
    orvane::gazeDot();
    return orvane::failures == 0 ? 0 : 1;
}
