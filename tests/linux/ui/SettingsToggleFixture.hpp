#pragma once

#include "orvane/engine/EngineFixture.hpp"
#include "ui/SettingsView.hpp"
#include "ui/WindowPresenter.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QScrollArea>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace orvane::ui::test {

// The settings window shown on the test desktop, for a test of one of its boxes: `<name>Toggle`
// and the label `<name>Problem` beside it.
class SettingsToggleFixture : public testing::EngineFixture {
protected:
    explicit SettingsToggleFixture(const char* name) : name_(name) {}

    void open() {
        if (!view) {
            view = std::make_unique<SettingsView>(engine, calibration, [] {});
        }
        presentWindow(*view, "Orvane Settings", 500, 620);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    void reopen() {
        view->hide();
        open();
    }
    QCheckBox* box() const { return view->findChild<QCheckBox*>(name_ + "Toggle"); }
    QLabel* problem() const { return view->findChild<QLabel*>(name_ + "Problem"); }
    // The user clicks the box.
    void toggle() {
        view->findChild<QScrollArea*>()->ensureWidgetVisible(box());
        QTest::mouseClick(box(), Qt::LeftButton, {}, QPoint(8, box()->height() / 2));
    }

    std::shared_ptr<CalibrationController> calibration = CalibrationController::make();
    std::unique_ptr<SettingsView> view;

private:
    QString name_;
};

} // namespace orvane::ui::test
