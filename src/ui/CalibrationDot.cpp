#include "ui/CalibrationDot.hpp"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace orvane::ui {
namespace {

double mix(double from, double to, double t) {
    return from + (to - from) * t;
}

QColor mix(const QColor& from, const QColor& to, double t) {
    return QColor::fromRgbF(static_cast<float>(mix(from.redF(), to.redF(), t)),
                            static_cast<float>(mix(from.greenF(), to.greenF(), t)),
                            static_cast<float>(mix(from.blueF(), to.blueF(), t)));
}

} // namespace

CalibrationDot::CalibrationDot() : easing_(QEasingCurve::BezierSpline) {
    // The usual ease-in-ease-out: slow at both ends.
    easing_.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
}

void CalibrationDot::restart(bool sampling, double now) {
    pulseStart_ = now;
    samplingFrom_ = samplingTo_ = sampling ? 1.0 : 0.0;
    changeStart_ = now;
}

void CalibrationDot::setSampling(bool sampling, double now) {
    const double target = sampling ? 1.0 : 0.0;
    if (target == samplingTo_) {
        return;
    }
    // A change during a change starts from where the dot is now.
    samplingFrom_ = samplingMix(now);
    samplingTo_ = target;
    changeStart_ = now;
}

double CalibrationDot::samplingMix(double now) const {
    const double t = std::clamp((now - changeStart_) / changeSeconds, 0.0, 1.0);
    return mix(samplingFrom_, samplingTo_, easing_.valueForProgress(t));
}

double CalibrationDot::pulseScale(double now) const {
    const double phase = std::max(0.0, now - pulseStart_) / pulseSeconds;
    const double whole = std::floor(phase);
    const double eased = easing_.valueForProgress(phase - whole);
    // Even runs grow, odd runs shrink back.
    const bool growing = std::fmod(whole, 2.0) < 1.0;
    return growing ? mix(pulseSmallest, pulseLargest, eased)
                   : mix(pulseLargest, pulseSmallest, eased);
}

void CalibrationDot::paint(QPainter& painter, QPointF centre, double now,
                           const QColor& accent) const {
    const double sampling = samplingMix(now);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    const double ringDiameter = mix(ringSize, samplingRingSize, sampling) * pulseScale(now);
    QPen ring(QColor(255, 255, 255, 71), ringLineWidth);
    painter.setPen(ring);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, ringDiameter / 2, ringDiameter / 2);

    // The core's soft white glow: a shadow without offset, blurred by `glowRadius`.
    const double coreRadius = coreSize / 2;
    const double glowOuter = coreRadius + glowRadius;
    QRadialGradient glow(centre, glowOuter);
    glow.setColorAt(0, QColor(255, 255, 255, 128));
    // Falls off like a blurred edge: steep just outside the core, then a long soft tail.
    const double edge = coreRadius / glowOuter;
    glow.setColorAt(edge, QColor(255, 255, 255, 72));
    glow.setColorAt(edge + (1 - edge) * 0.3, QColor(255, 255, 255, 36));
    glow.setColorAt(edge + (1 - edge) * 0.65, QColor(255, 255, 255, 10));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(centre, glowOuter, glowOuter);

    painter.setBrush(mix(QColor(Qt::white), accent, sampling));
    painter.drawEllipse(centre, coreRadius, coreRadius);
    painter.restore();
}

QRectF CalibrationDot::extent(QPointF centre) {
    const double half =
        std::max(samplingRingSize * pulseLargest / 2 + ringLineWidth, coreSize / 2 + glowRadius) +
        2;
    return {centre.x() - half, centre.y() - half, 2 * half, 2 * half};
}

} // namespace orvane::ui
