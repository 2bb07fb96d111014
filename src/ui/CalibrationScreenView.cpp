#include "ui/CalibrationScreenView.hpp"

#include "orvane/calibration/CalibrationController.hpp"
#include "ui/AccentColor.hpp"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace orvane::ui {
namespace {

// Dimmed shades of the white text.
const QColor primaryText(255, 255, 255);
const QColor secondaryText(255, 255, 255, 140);
const QColor tertiaryText(255, 255, 255, 89);
const QColor inactiveText(255, 255, 255, 89);
const QColor faceSeen(0x34, 0xc7, 0x59);
const QColor faceMissing(0xff, 0x9f, 0x0a);

constexpr int blockSpacing = 10;
constexpr int faceRowPadding = 4;
constexpr int progressPadding = 8;
constexpr int escapePadding = 2;
constexpr int faceRowSpacing = 6;

QFont sizedFont(const QFont& base, int pixels, QFont::Weight weight) {
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

} // namespace

CalibrationScreenView::CalibrationScreenView(std::weak_ptr<CalibrationController> controller,
                                             std::string screenID, QWidget* parent)
    : QWidget(parent), controller_(std::move(controller)), screenID_(std::move(screenID)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    clock_.start();
    frameTimer_.setTimerType(Qt::PreciseTimer);
    frameTimer_.setInterval(16);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { update(dotRect()); });

    auto shared = controller_.lock();
    if (!shared) {
        return;
    }
    auto& c = *shared;
    subscriptions_.push_back(c.dotIsSampling.subscribe([this](bool sampling) {
        if (sampling != sampling_) {
            sampling_ = sampling;
            dot_.setSampling(sampling, now());
        }
        update();
    }));
    subscriptions_.push_back(c.dotPosition.subscribe([this](const plinth::Point& position) {
        update(dotRect());
        dotPosition_ = position;
        update(dotRect());
    }));
    subscriptions_.push_back(c.faceVisible.subscribe([this](bool visible) {
        faceVisible_ = visible;
        update();
    }));
    subscriptions_.push_back(c.progress.subscribe([this](double progress) {
        progress_ = progress;
        update();
    }));
    subscriptions_.push_back(c.currentScreenName.subscribe([this](const std::string& name) {
        screenName_ = QString::fromStdString(name);
        update();
    }));
    subscriptions_.push_back(c.activeScreenID.subscribe(
        [this](const std::string& active) { setActive(active == screenID_); }));
}

CalibrationScreenView::~CalibrationScreenView() = default;

double CalibrationScreenView::now() const {
    return static_cast<double>(clock_.nsecsElapsed()) / 1e9;
}

void CalibrationScreenView::setActive(bool active) {
    if (active && !active_) {
        // The dot arrives on this display: a new dot with a new pulse.
        dot_.restart(sampling_, now());
    }
    active_ = active;
    updateAnimation();
    update();
}

void CalibrationScreenView::updateAnimation() {
    if (active_ && isVisible()) {
        frameTimer_.start();
    } else {
        frameTimer_.stop();
    }
}

QPointF CalibrationScreenView::dotCentre() const {
    // The controller places the dot in the display's own pixels; Qt draws in scaled ones.
    return QPointF(dotPosition_.x, dotPosition_.y) / devicePixelRatioF();
}

QRect CalibrationScreenView::dotRect() const {
    return CalibrationDot::extent(dotCentre()).toAlignedRect();
}

void CalibrationScreenView::cancelRun() {
    if (auto controller = controller_.lock()) {
        controller->cancel();
    }
}

void CalibrationScreenView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        // Cancelling hides and releases this window: nothing of it is touched afterwards.
        cancelRun();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CalibrationScreenView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateAnimation();
}

void CalibrationScreenView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateAnimation();
}

void CalibrationScreenView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    if (!active_) {
        paintInactiveLine(painter);
        return;
    }
    paintInstructions(painter);
    dot_.paint(painter, dotCentre(), now(), accentColor());
}

void CalibrationScreenView::paintInstructions(QPainter& painter) {
    const QFont titleFont = sizedFont(font(), 22, QFont::Medium);
    const QFont hintFont = sizedFont(font(), 14, QFont::Normal);
    const QFont faceFont = sizedFont(font(), 12, QFont::Normal);
    const QFont escapeFont = sizedFont(font(), 11, QFont::Normal);
    const int titleHeight = QFontMetrics(titleFont).height();
    const int hintHeight = QFontMetrics(hintFont).height();
    const int faceHeight = std::max(faceMarkSize, QFontMetrics(faceFont).height());
    const int escapeHeight = QFontMetrics(escapeFont).height();
    const int w = width();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // Laid out from the bottom up: the last line ends `blockBottomMargin` above the edge.
    int bottom = height() - blockBottomMargin;
    const QRect escapeRect(0, bottom - escapeHeight, w, escapeHeight);
    bottom = escapeRect.top() - blockSpacing - escapePadding;
    const QRect progressRect((w - progressWidth) / 2, bottom - progressHeight, progressWidth,
                             progressHeight);
    bottom = progressRect.top() - blockSpacing - progressPadding;
    const QRect faceRect(0, bottom - faceHeight, w, faceHeight);
    bottom = faceRect.top() - blockSpacing - faceRowPadding;
    const QRect hintRect(0, bottom - hintHeight, w, hintHeight);
    bottom = hintRect.top() - blockSpacing;
    const QRect titleRect(0, bottom - titleHeight, w, titleHeight);

    painter.setFont(titleFont);
    painter.setPen(primaryText);
    painter.drawText(titleRect, Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("Look at the dot"));

    painter.setFont(hintFont);
    painter.setPen(secondaryText);
    painter.drawText(hintRect, Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("Turn your head toward it, not just your eyes."));

    // The face row is centred as a whole: the mark, a gap, the text.
    const QString faceText = faceVisible_ ? QStringLiteral("Face detected")
                                          : QString::fromUtf8("Looking for your face\u2026");
    const int textWidth = QFontMetrics(faceFont).horizontalAdvance(faceText);
    const int rowWidth = faceMarkSize + faceRowSpacing + textWidth;
    const int rowLeft = (w - rowWidth) / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(faceVisible_ ? faceSeen : faceMissing);
    painter.drawEllipse(QRectF(rowLeft, faceRect.top() + (faceHeight - faceMarkSize) / 2.0,
                               faceMarkSize, faceMarkSize));
    painter.setFont(faceFont);
    painter.setPen(secondaryText);
    painter.drawText(
        QRect(rowLeft + faceMarkSize + faceRowSpacing, faceRect.top(), textWidth + 2, faceHeight),
        Qt::AlignLeft | Qt::AlignVCenter, faceText);

    const double radius = progressHeight / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 46));
    painter.drawRoundedRect(progressRect, radius, radius);
    const double done = std::clamp(progress_, 0.0, 1.0);
    if (done > 0) {
        QRectF filled(progressRect);
        filled.setWidth(std::max(progressHeight * 1.0, filled.width() * done));
        painter.setBrush(accentColor());
        painter.drawRoundedRect(filled, radius, radius);
    }

    painter.setFont(escapeFont);
    painter.setPen(tertiaryText);
    painter.drawText(escapeRect, Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("Press Esc to cancel"));
}

void CalibrationScreenView::paintInactiveLine(QPainter& painter) {
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(sizedFont(font(), 16, QFont::Normal));
    painter.setPen(inactiveText);
    painter.drawText(rect(), Qt::AlignCenter,
                     QStringLiteral("Calibrating ") + screenName_ + QString::fromUtf8("\u2026"));
}

} // namespace orvane::ui
