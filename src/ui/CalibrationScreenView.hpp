#pragma once

#include "orvane/platform/Subscription.hpp"
#include "plinth/Geometry.hpp"
#include "ui/CalibrationDot.hpp"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

namespace orvane {
class CalibrationController;
}

namespace orvane::ui {

// What one display shows during a calibration run, drawn from the controller's published state:
// on the display whose turn it is, the dot and the instructions; elsewhere a dim line naming the
// display being calibrated. Black everywhere else. Escape cancels the run.
class CalibrationScreenView : public QWidget {
    Q_OBJECT
public:
    // `screenID`: the display key of the display this view covers.
    CalibrationScreenView(std::weak_ptr<CalibrationController> controller, std::string screenID,
                          QWidget* parent = nullptr);
    ~CalibrationScreenView() override;

    const std::string& screenID() const { return screenID_; }
    // The dot is on this view's display.
    bool isActive() const { return active_; }
    // Ends the run as cancelled (what Escape does).
    void cancelRun();

    // Layout, in this view's coordinates.
    static constexpr int blockBottomMargin = 70;
    static constexpr int progressWidth = 220;
    static constexpr int progressHeight = 6;
    static constexpr int faceMarkSize = 7;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    double now() const;
    void setActive(bool active);
    void updateAnimation();
    QPointF dotCentre() const;
    QRect dotRect() const;
    void paintInstructions(QPainter& painter);
    void paintInactiveLine(QPainter& painter);

    std::weak_ptr<CalibrationController> controller_;
    std::string screenID_;

    // The controller's state as last published.
    bool active_ = false;
    plinth::Point dotPosition_;
    bool sampling_ = false;
    bool faceVisible_ = false;
    double progress_ = 0;
    QString screenName_;

    CalibrationDot dot_;
    QElapsedTimer clock_;
    QTimer frameTimer_;
    std::vector<Subscription> subscriptions_;
};

} // namespace orvane::ui
