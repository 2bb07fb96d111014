#include "orvane/camera/CameraCapture.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <cmath>
#include <deque>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class CameraCaptureTest : public ::testing::Test {
protected:
    CameraCaptureTest() {
        capture->setOnFrame([this](const PixelBuffer& frame) {
            EXPECT_NE(frame.data, nullptr);
            frameTimes.push_back(desktop.clock->monotonic());
        });
        capture->setOnError([this](const std::string& message) { errors.push_back(message); });
    }

    static sim::SimCameraDevice device(std::string id, double fps,
                                       std::vector<FrameRateRange> ranges = {}) {
        sim::SimCameraDevice device;
        device.uniqueID = id;
        device.name = "Camera " + id;
        device.nativeFrameRate = fps;
        device.frameRateRanges = std::move(ranges);
        return device;
    }
    std::vector<std::string> infos() const { return desktop.log->lines(LogLevel::info); }

    sim::SimDesktop desktop;
    std::shared_ptr<CameraCapture> capture = CameraCapture::make();
    std::vector<double> frameTimes; // monotonic, one per frame passed on
    std::vector<std::string> errors;
};

TEST_F(CameraCaptureTest, OpensTheChosenCameraElseTheFirstAndSwitchesOnRestart) {
    desktop.camera->addDevice(device("usb-1", 30));
    capture->start("usb-1");
    EXPECT_TRUE(capture->isRunning());
    desktop.run(0.5);
    EXPECT_THAT(desktop.camera->streamingDevices(), ElementsAre("usb-1"));
    const auto deliveredBefore = capture->framesDelivered();
    EXPECT_GT(deliveredBefore, 0);

    capture->stop();
    EXPECT_FALSE(capture->isRunning());
    capture->start("unplugged-long-ago"); // stale: the first camera, silently
    desktop.run(0.5);
    EXPECT_THAT(errors, IsEmpty());
    EXPECT_THAT(desktop.camera->streamingDevices(), ElementsAre("sim-camera-0"));
    const auto calls = desktop.camera->calls();
    EXPECT_THAT(calls.openedIDs, ElementsAre("usb-1", "sim-camera-0"));
    EXPECT_EQ(calls.frameHandlers, 1) << "one output, kept across restarts";
    EXPECT_EQ(calls.starts, 2);
    EXPECT_EQ(calls.stops, 1);
    EXPECT_GT(capture->framesDelivered(), deliveredBefore) << "counters are never reset";
}

TEST_F(CameraCaptureTest, StartWhileRunningChangesNothing) {
    capture->start(std::nullopt);
    capture->start("sim-camera-0");
    desktop.settle();
    const auto calls = desktop.camera->calls();
    EXPECT_EQ(calls.opens, 1);
    EXPECT_EQ(calls.starts, 1);
    EXPECT_THAT(errors, IsEmpty());
}

TEST_F(CameraCaptureTest, SetUpFailuresComeBackAsSentencesAndStartNothing) {
    desktop.camera->setDevices({});
    capture->start(std::nullopt);
    EXPECT_EQ(desktop.camera->calls().opens, 0);

    auto busy = device("busy", 30);
    busy.openFailure = "the device is in use by another program";
    auto taken = device("taken", 30);
    taken.unavailable = true;
    desktop.camera->setDevices({busy, taken});
    capture->start(std::nullopt);
    capture->start("taken");
    EXPECT_FALSE(capture->isRunning());
    desktop.run(1);
    EXPECT_THAT(errors, ElementsAre("No camera found.",
                                    "Could not open the camera: the device is in use by another "
                                    "program",
                                    "Camera is unavailable."));
    EXPECT_EQ(desktop.camera->calls().starts, 0);
    EXPECT_EQ(capture->framesReceived(), 0);
}

TEST_F(CameraCaptureTest, AFailedRestartLeavesTheOldCameraOutOfTheSession) {
    auto flaky = device("flaky", 30);
    desktop.camera->addDevice(flaky);
    capture->start("flaky");
    desktop.run(0.2);
    capture->stop();
    desktop.camera->updateDevice("flaky", [](auto& d) { d.openFailure = "unplugged"; });
    capture->start("flaky");
    desktop.camera->updateDevice("flaky", [](auto& d) { d.openFailure.reset(); });
    desktop.run(0.5);
    EXPECT_THAT(errors, ElementsAre("Could not open the camera: unplugged"));
    EXPECT_THAT(desktop.camera->streamingDevices(), IsEmpty());
}

TEST_F(CameraCaptureTest, AsksTheCameraForFifteenFramesASecondWithinItsRange) {
    struct Case {
        FrameRateRange range;
        double duration;
        const char* logged;
    };
    for (const auto& c : {Case{{1.0 / 30, 1.0}, 40.0 / 600, "capture capped at 15 fps"},
                          Case{{1.0 / 10, 1.0}, 60.0 / 600, "capture capped at 10 fps"},
                          Case{{1.0 / 60, 1.0 / 30}, 20.0 / 600, "capture capped at 30 fps"}}) {
        sim::SimDesktop desktop;
        desktop.camera->setDevices({device("cam", 60, {c.range, {1.0 / 15, 1.0 / 15}})});
        auto capture = CameraCapture::make();
        capture->start(std::nullopt);
        EXPECT_EQ(desktop.camera->calls().lastFrameDuration, c.duration) << c.logged;
        EXPECT_THAT(desktop.log->lines(LogLevel::info), ElementsAre(c.logged));
    }
}

TEST_F(CameraCaptureTest, WithoutACapTheSoftwareThrottleThinsAFastCamera) {
    auto refusing = device("refusing", 30, {{1.0 / 30, 1.0}});
    refusing.lockRefusal = "the device is locked by another program";
    desktop.camera->setDevices({refusing, device("rangeless", 30)});

    capture->start("refusing");
    EXPECT_THAT(infos(),
                ElementsAre("could not cap frame rate: the device is locked by another program"));
    desktop.run(3.99);
    EXPECT_EQ(capture->framesReceived(), 119);
    EXPECT_EQ(capture->framesDelivered(), 59) << "the first frame comes too soon after creation";
    for (std::size_t i = 1; i < frameTimes.size(); ++i) {
        EXPECT_NEAR(frameTimes[i] - frameTimes[i - 1], 1.0 / 15, 1e-9);
    }

    capture->stop();
    desktop.log->clear();
    capture->start("rangeless");
    EXPECT_THAT(infos(), IsEmpty());
    EXPECT_FALSE(desktop.camera->calls().lastFrameDuration);
    desktop.run(1.99);
    EXPECT_EQ(capture->framesReceived(), 119 + 59);
    EXPECT_EQ(capture->framesDelivered(), 59 + 30);
}

TEST_F(CameraCaptureTest, ADemandForFewerFramesThinsTheStreamAtOnceAndTellsTheSession) {
    desktop.camera->setDevices({device("rangeless", 30)}); // no cap: the throttle does it all
    capture->start(std::nullopt);
    desktop.run(1.0);
    const FrameDemand away{5, 640};
    capture->setDemand(away);
    frameTimes.clear();
    desktop.run(2.0);
    ASSERT_EQ(frameTimes.size(), 10u);
    for (std::size_t i = 1; i < frameTimes.size(); ++i) {
        EXPECT_NEAR(frameTimes[i] - frameTimes[i - 1], 0.2, 1e-9);
    }
    EXPECT_EQ(desktop.camera->calls().demands.back(), away);

    // Asking for every frame again takes effect at the next frame that keeps the usual spacing.
    const double askedAt = desktop.clock->monotonic();
    capture->setDemand({});
    frameTimes.clear();
    desktop.run(1.0);
    ASSERT_FALSE(frameTimes.empty());
    EXPECT_LE(frameTimes.front() - askedAt, 1.0 / 15 + 1e-9);
    EXPECT_EQ(frameTimes.size(), 15u);
    EXPECT_EQ(desktop.camera->calls().demands.back(), FrameDemand{});

    // A demand that makes no sense is no reason to pass fewer frames than every frame allows.
    for (const double nonsense : {-1.0, std::nan(""), 1e9}) {
        capture->setDemand({nonsense, 0});
        frameTimes.clear();
        desktop.run(1.0);
        EXPECT_EQ(frameTimes.size(), 15u) << nonsense;
    }
}

TEST_F(CameraCaptureTest, StopAndStartGoBackToEveryFrameAtFullSize) {
    capture->start(std::nullopt);
    capture->setDemand({5, 640});
    const auto told = desktop.camera->calls().demands.size();
    capture->setDemand({5, 640});
    EXPECT_EQ(desktop.camera->calls().demands.size(), told) << "an unchanged demand is not sent";

    capture->stop();
    EXPECT_EQ(capture->demand(), FrameDemand{});
    capture->setDemand({5, 640}); // a frame still in flight asked for less
    capture->start(std::nullopt);
    EXPECT_EQ(capture->demand(), FrameDemand{});
    EXPECT_EQ(desktop.camera->calls().demands.back(), FrameDemand{});
    frameTimes.clear();
    desktop.run(1.0);
    EXPECT_EQ(frameTimes.size(), 15u);
}

TEST_F(CameraCaptureTest, ASteadyFifteenFramesASecondPassesWholeWhateverTheWallClockDoes) {
    desktop.camera->setDevices({device("steady", 15)});
    capture->start(std::nullopt);
    desktop.run(1.99);
    desktop.clock->stepWallClock(-3600); // the user sets the clock back an hour
    desktop.run(2.0);
    EXPECT_EQ(capture->framesReceived(), 59);
    EXPECT_EQ(capture->framesDelivered(), 59);
}

TEST_F(CameraCaptureTest, TheFirstFramePassesOnlyOnceTheSpacingHasElapsedSinceCreation) {
    auto imageless = device("imageless", 30);
    imageless.imageless = true;
    desktop.camera->setDevices({device("cam", 30), imageless});
    capture->start(std::nullopt);
    desktop.settle();
    desktop.clock->advance(0.0646);
    desktop.camera->deliverFrame();
    desktop.settle();
    EXPECT_EQ(capture->framesReceived(), 1);
    EXPECT_EQ(capture->framesDelivered(), 0);
    desktop.clock->advance(0.0001);
    desktop.camera->deliverFrame();
    desktop.settle();
    EXPECT_EQ(capture->framesDelivered(), 1);

    capture->stop();
    capture->start("imageless");
    desktop.run(1);
    EXPECT_EQ(capture->framesReceived(), 2) << "a frame without an image is no frame";
}

TEST_F(CameraCaptureTest, CountsFramesWithNobodyListening) {
    capture->setOnFrame(nullptr);
    capture->start(std::nullopt);
    desktop.run(1.01);
    EXPECT_EQ(capture->framesDelivered(), 15);
}

TEST_F(CameraCaptureTest, ADestroyedCaptureStopsItsSessionAndPassesNothingOn) {
    capture->start(std::nullopt);
    desktop.run(0.5);
    const auto delivered = frameTimes.size();
    desktop.clock->advance(0.1);
    desktop.camera->deliverFrame(); // in flight on the queue
    capture.reset();
    desktop.run(1);
    EXPECT_EQ(frameTimes.size(), delivered);
    EXPECT_EQ(desktop.camera->calls().stops, 1);
    EXPECT_THAT(desktop.camera->streamingDevices(), IsEmpty());
}

TEST_F(CameraCaptureTest, ACaptureDestroyedRightAfterStopStillStopsItsSession) {
    capture->start(std::nullopt);
    desktop.settle();
    capture->stop();
    capture.reset(); // before the queue got to the stop
    desktop.settle();
    EXPECT_THAT(desktop.camera->streamingDevices(), IsEmpty());
}

// A queue that, like a worker thread's, drops what is still pending when it goes.
class DroppingQueue : public SerialQueue {
public:
    void async(Task task) override { tasks_.push_back(std::move(task)); }
    void drain() {
        while (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            task();
        }
    }

private:
    std::deque<Task> tasks_;
};

class DroppingQueues : public SerialQueueFactory {
public:
    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& /*label*/) override {
        auto queue = std::make_shared<DroppingQueue>();
        made = queue;
        return queue;
    }
    std::weak_ptr<DroppingQueue> made;
};

TEST_F(CameraCaptureTest, StopsTheSessionItselfWhenItsQueueGoesWithIt) {
    auto services = std::make_shared<Platform>(*desktop.services);
    auto queues = std::make_shared<DroppingQueues>();
    services->serialQueues = queues;
    PlatformInstallation installation(services);

    auto own = CameraCapture::make();
    own->start(std::nullopt);
    queues->made.lock()->drain();
    ASSERT_THAT(desktop.camera->streamingDevices(), ElementsAre("sim-camera-0"));
    own.reset();
    EXPECT_TRUE(queues->made.expired());
    EXPECT_EQ(desktop.camera->calls().stops, 1);
    EXPECT_THAT(desktop.camera->streamingDevices(), IsEmpty());
}

TEST_F(CameraCaptureTest, QueueIsTheApplicationsCameraQueue) {
    const auto queues = desktop.serialQueues->queues();
    ASSERT_EQ(queues.size(), 1u);
    EXPECT_EQ(queues[0]->label(), "net.orvane.Orvane.camera");
    EXPECT_EQ(capture->queue(), queues[0]);
}

TEST_F(CameraCaptureTest, TheAnswerToAnAccessRequestArrivesOnTheMainQueue) {
    desktop.camera->setAuthorization(CameraAuthorization::notDetermined);
    desktop.camera->setAccessGrant(false);
    desktop.camera->holdAccessRequests(true);
    std::vector<bool> answers;
    CameraCapture::requestAccess([&](bool granted) { answers.push_back(granted); });
    desktop.camera->answerAccessRequests(); // on the platform's thread
    EXPECT_THAT(answers, IsEmpty());
    desktop.mainQueue->runPending();
    EXPECT_THAT(answers, ElementsAre(false));
    EXPECT_EQ(desktop.camera->authorizationStatus(), CameraAuthorization::denied);
}

} // namespace
} // namespace orvane
