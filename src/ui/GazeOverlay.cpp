#include "ui/GazeOverlay.hpp"

#include "orvane/guards/SystemGuards.hpp"
#include "orvane/platform/Platform.hpp"
#include "ui/AccentColor.hpp"
#include "ui/ScreenSpace.hpp"
#include "ui/x11/X11WindowControl.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QWidget>

#include <cmath>
#include <cstdint>

namespace orvane::ui {
namespace {

constexpr double outlineWidth = 1.5;

// Without a compositor a window cannot be translucent, only shaped: the dot is then cut out of
// an opaque window as a solid rim and a fill of every other pixel of every other row, which
// reads as the same faint disc and lets a quarter of what lies below show through.
QRegion screenDoorDisc(int size) {
    const double centre = size / 2.0;
    const double rimInner = centre - 1.5;
    QRegion region;
    for (int y = 0; y < size; ++y) {
        int spanStart = -1;
        for (int x = 0; x <= size; ++x) {
            bool inside = false;
            if (x < size) {
                const double d = std::hypot(x + 0.5 - centre, y + 0.5 - centre);
                inside = d <= centre && (d >= rimInner || (x % 2 == 0 && y % 2 == 0));
            }
            if (inside && spanStart < 0) {
                spanStart = x;
            } else if (!inside && spanStart >= 0) {
                region += QRect(spanStart, y, x - spanStart, 1);
                spanStart = -1;
            }
        }
    }
    return region;
}

class GazeDotView : public QWidget {
public:
    explicit GazeDotView(bool translucent) : translucent_(translucent) {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                       Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput |
                       Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(GazeOverlay::size, GazeOverlay::size);
        if (translucent_) {
            setAttribute(Qt::WA_TranslucentBackground);
        } else {
            // Nothing but the shape is ever seen; grabs show the same, on transparency.
            setAttribute(Qt::WA_NoSystemBackground);
            setMask(screenDoorDisc(GazeOverlay::size));
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QColor accent = accentColor();
        if (!translucent_) {
            // The window's shape draws the dot.
            painter.setClipRegion(mask());
            painter.fillRect(rect(), accent);
            return;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        QColor fill = accent;
        fill.setAlphaF(0.25f);
        QPen outline(accent, outlineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        outline.setMiterLimit(10);
        painter.setPen(outline);
        painter.setBrush(fill);
        const double inset = outlineWidth / 2;
        painter.drawEllipse(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
    }

private:
    bool translucent_;
};

bool compositorRunning() {
    auto connection = x11::openConnection();
    return connection && x11::isCompositing(*connection);
}

} // namespace

GazeOverlay::GazeOverlay() = default;

GazeOverlay::~GazeOverlay() {
    setVisible(false);
}

void GazeOverlay::setVisible(bool visible) {
    if (auto surface = desktopDot()) {
        // The desktop draws the dot: no window of ours to place or to keep above.
        if (!visible && drawnByDesktop_) {
            surface->hide();
        }
        drawnByDesktop_ = visible;
        return;
    }
    if (visible) {
        if (dot_) {
            return;
        }
        dot_ = std::make_unique<GazeDotView>(compositorRunning());
        // The native window now, so that the guards know its number before it first shows.
        SystemGuards::setOverlayWindowNumber(static_cast<std::uint32_t>(dot_->winId()));
        return;
    }
    if (!dot_) {
        return;
    }
    dot_->hide();
    dot_.reset();
    SystemGuards::setOverlayWindowNumber(std::nullopt);
}

std::shared_ptr<GazeDotSurface> GazeOverlay::desktopDot() {
    return hasPlatform() ? platform().gazeDot : nullptr;
}

void GazeOverlay::update(const std::optional<plinth::Point>& globalTopLeft) {
    if (drawnByDesktop_) {
        if (auto surface = desktopDot()) {
            if (globalTopLeft) {
                surface->show(*globalTopLeft, size);
            } else {
                surface->hide();
            }
        }
        return;
    }
    if (!dot_) {
        return;
    }
    if (!globalTopLeft) {
        dot_->hide();
        return;
    }
    if (QGuiApplication::primaryScreen() != nullptr) {
        const QPoint centre = logicalFromRoot(rootPointFromGlobal(*globalTopLeft));
        dot_->move(centre - QPoint(size / 2, size / 2));
    }
    if (!dot_->isVisible()) {
        dot_->show();
    }
    // Nothing keeps a window the window manager does not manage above those mapped or raised
    // after it (pop-ups, windows kept above): restack it with every point. One request, no
    // round trip.
    dot_->raise();
}

} // namespace orvane::ui
