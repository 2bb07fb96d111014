#include "backends/sim/SimDesktop.hpp"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane::sim {
namespace {

using ::testing::_;
using ::testing::DoubleNear;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

class SimCameraTest : public ::testing::Test {
protected:
    // A session on the default camera, started through its queue as a capture would.
    void startSession() {
        session->open({"sim-camera-0", "Simulated Camera"});
        session->setFrameHandler(queue, [this](const PixelBuffer& frame) {
            EXPECT_EQ(frame.format, PixelFormat::gray8);
            events.emplace_back('f', elapsed());
            desktop.mainQueue->post([this] { events.emplace_back('m', elapsed()); });
        });
        queue->async([this] { session->startRunning(); });
    }
    double elapsed() const { return desktop.clock->monotonic() - start; }

    SimDesktop desktop;
    const double start = desktop.clock->monotonic();
    std::shared_ptr<CameraSession> session = desktop.camera->makeSession();
    std::shared_ptr<SerialQueue> queue = desktop.serialQueues->makeSerialQueue("test.camera");
    std::vector<std::pair<char, double>> events;
};

TEST_F(SimCameraTest, RunPlaysFramesTimersAndTheirMainQueueWorkInTimeOrder) {
    startSession();
    desktop.mainQueue->after(0.05, [this] { events.emplace_back('t', elapsed()); });
    desktop.run(0.07);
    EXPECT_THAT(events, ElementsAre(Pair('f', DoubleNear(1.0 / 30, 1e-9)),
                                    Pair('m', DoubleNear(1.0 / 30, 1e-9)),
                                    Pair('t', DoubleNear(0.05, 1e-9)),
                                    Pair('f', DoubleNear(2.0 / 30, 1e-9)),
                                    Pair('m', DoubleNear(2.0 / 30, 1e-9))));
    EXPECT_NEAR(elapsed(), 0.07, 1e-9);

    events.clear();
    EXPECT_EQ(session->setFrameDuration(0.25), std::nullopt);
    desktop.run(0.5);
    EXPECT_THAT(events, ElementsAre(Pair('f', DoubleNear(1.0 / 15 + 0.25, 1e-9)), Pair('m', _),
                                    Pair('f', DoubleNear(1.0 / 15 + 0.5, 1e-9)), Pair('m', _)));
    EXPECT_EQ(desktop.camera->calls().lastFrameDuration, 0.25);
}

TEST_F(SimCameraTest, TheMainQueuesRunUntilPlaysTheDesktopToo) {
    startSession();
    desktop.mainQueue->runUntil(start + 0.99);
    ASSERT_EQ(events.size(), 2u * 29);
    EXPECT_THAT(events.back(), Pair('m', DoubleNear(29.0 / 30, 1e-9)));
}

TEST_F(SimCameraTest, DropsAFrameWhileTheSessionsPreviousOneIsStillQueued) {
    startSession();
    desktop.settle();
    desktop.camera->deliverFrame();
    desktop.camera->deliverFrame();
    EXPECT_EQ(desktop.camera->framesDropped(), 1);
    desktop.settle();
    desktop.camera->deliverFrame();
    desktop.settle();
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](auto& e) { return e.first == 'f'; }),
              2);
}

TEST_F(SimCameraTest, FramesMissedWhileTheClockMovedElsewhereArriveAsOneLateFrame) {
    startSession();
    desktop.settle();
    desktop.mainQueue->advance(10); // timers only: no frames
    EXPECT_THAT(events, IsEmpty());
    desktop.run(0.01);
    EXPECT_THAT(events, ElementsAre(Pair('f', DoubleNear(10, 1e-9)), Pair('m', _)));
    EXPECT_EQ(desktop.camera->framesDropped(), 299);
}

TEST_F(SimCameraTest, AnUnpluggedCameraStopsStreamingAndCannotBeOpened) {
    startSession();
    desktop.settle();
    EXPECT_THAT(desktop.camera->streamingDevices(), ElementsAre("sim-camera-0"));
    desktop.camera->removeDevice("sim-camera-0");
    EXPECT_THAT(desktop.camera->streamingDevices(), IsEmpty());
    EXPECT_EQ(desktop.camera->nextFrameDue(), std::nullopt);
    EXPECT_EQ(session->open({"sim-camera-0", "Simulated Camera"}).status,
              CameraSession::OpenStatus::failed);
    EXPECT_TRUE(desktop.camera->devices().empty());
}

TEST_F(SimCameraTest, AccessIsDecidedOnceAndThenAnsweredFromTheStatus) {
    std::vector<bool> answers;
    auto record = [&](bool granted) {
        answers.push_back(granted);
    };
    desktop.camera->requestAccess(record);
    desktop.camera->setAuthorization(CameraAuthorization::notDetermined);
    desktop.camera->requestAccess(record);
    EXPECT_EQ(desktop.camera->authorizationStatus(), CameraAuthorization::authorized);
    desktop.camera->setAccessGrant(false);
    desktop.camera->requestAccess(record); // already decided
    desktop.camera->setAuthorization(CameraAuthorization::restricted);
    desktop.camera->requestAccess(record);
    EXPECT_THAT(answers, ElementsAre(true, true, true, false));
}

TEST_F(SimCameraTest, TheVirtualHeadTurnsOverVirtualTimeAndIsSeenWithOthers) {
    auto& head = *desktop.head;
    head.turnTo(0.4, -0.2, 1.0);
    desktop.clock->advance(0.5);
    EXPECT_NEAR(head.pose().yaw, 0.2, 1e-12);
    EXPECT_NEAR(head.pose().pitch, -0.1, 1e-12);
    EXPECT_EQ(head.pose().centerX, 0.5);
    desktop.clock->advance(2);
    EXPECT_NEAR(head.pose().yaw, 0.4, 1e-12);

    FaceObservation stranger;
    stranger.boundingBox = {0.1, 0.1, 0.05, 0.05};
    head.setOtherFaces({stranger});
    auto seen = desktop.faceDetector->detect({}, 5);
    ASSERT_EQ(seen.faces.size(), 2u);
    EXPECT_EQ(seen.faces[0].boundingBox, (plinth::Rect{0.4, 0.4, 0.2, 0.2}));
    EXPECT_NEAR(*seen.faces[0].yaw, 0.4, 1e-12);
    EXPECT_EQ(seen.faces[1].boundingBox, stranger.boundingBox);

    head.setVisible(false);
    EXPECT_EQ(desktop.faceDetector->detect({}, 5).faces.size(), 1u);
    head.setDetectionError("no image");
    seen = desktop.faceDetector->detect({}, 5);
    EXPECT_EQ(seen.error, "no image");
    EXPECT_THAT(seen.faces, IsEmpty());
    EXPECT_EQ(desktop.faceDetector->detections(), 3);
}

} // namespace
} // namespace orvane::sim
