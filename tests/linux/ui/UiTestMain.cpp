// The Qt widget tests run inside one QApplication on the throw-away X desktop.

#include "backends/linux/atspi/AtspiWorker.hpp"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    orvane::linuxbackend::QtLoopWithoutGLib withoutGLib;
    QApplication application(argc, argv);
    withoutGLib.restore();
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
