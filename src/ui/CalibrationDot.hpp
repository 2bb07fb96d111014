#pragma once

#include <QColor>
#include <QEasingCurve>
#include <QPointF>
#include <QRectF>

class QPainter;

namespace orvane::ui {

// The calibration target: a breathing ring around a glowing core. Small and white while the
// user finds it; larger with an accent-coloured core while it samples. Holds only animation
// state; times are seconds on any monotonic clock the caller keeps.
class CalibrationDot {
public:
    static constexpr double ringLineWidth = 2;
    static constexpr double ringSize = 30;
    static constexpr double samplingRingSize = 46;
    static constexpr double coreSize = 13;
    static constexpr double glowRadius = 7;
    static constexpr double pulseSmallest = 0.94;
    static constexpr double pulseLargest = 1.12;
    static constexpr double pulseSeconds = 0.85; // one direction
    static constexpr double changeSeconds = 0.3;

    CalibrationDot();

    // A dot appearing afresh: no transition, the pulse starts at its smallest.
    void restart(bool sampling, double now);
    // Grows or shrinks to the new phase over `changeSeconds`.
    void setSampling(bool sampling, double now);
    bool isSampling() const { return samplingTo_ > 0.5; }

    // 0 = resting look, 1 = sampling look; in between while changing.
    double samplingMix(double now) const;
    double pulseScale(double now) const;

    void paint(QPainter& painter, QPointF centre, double now, const QColor& accent) const;

    // Everything `paint` may touch around `centre`.
    static QRectF extent(QPointF centre);

private:
    QEasingCurve easing_;
    double pulseStart_ = 0;
    double samplingFrom_ = 0;
    double samplingTo_ = 0;
    double changeStart_ = 0;
};

} // namespace orvane::ui
