#include "orvane/calibration/CalibrationStore.hpp"
#include "backends/sim/SimDesktop.hpp"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <sys/resource.h>

namespace orvane {
namespace {

using plinth::CalibrationSample;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Five dots on one display, looked at with slightly different head poses.
std::vector<CalibrationSample> fiveDots() {
    return {
        {{1, -0.20, -0.10, 0.40, 0.45}, 100, 100, 0.04},
        {{1, 0.20, -0.10, 0.60, 0.45}, 1820, 100, 0.04},
        {{1, 0.00, 0.00, 0.50, 0.50}, 960, 540, 0.05},
        {{1, -0.20, 0.10, 0.40, 0.55}, 100, 980, 0.04},
        {{1, 0.20, 0.12, 0.60, 0.56}, 1820, 980, 0.04},
    };
}

CalibrationSample clickAt(double x, double y) {
    return {{1, x / 10000.0, y / 10000.0, 0.5, 0.5}, x, y, 0.04};
}

class CalibrationStoreTest : public ::testing::Test {
protected:
    std::filesystem::path file() const {
        return desktop.applicationDirectory() / "calibration.json";
    }
    std::string fileText() const { return desktop.fileSystem->read(file()).value_or("<missing>"); }
    void writeFile(const std::string& text) {
        std::filesystem::create_directories(desktop.applicationDirectory());
        ASSERT_TRUE(desktop.fileSystem->writeAtomically(file(), text));
    }
    std::vector<std::string> errors() const { return desktop.log->lines(LogLevel::error); }
    std::vector<std::string> infos() const { return desktop.log->lines(LogLevel::info); }

    sim::SimDesktop desktop;
};

TEST_F(CalibrationStoreTest, StartsEmptyAndSilentWithoutAFile) {
    CalibrationStore store;
    EXPECT_THAT(store.samples(), IsEmpty());
    EXPECT_FALSE(store.model());
    EXPECT_EQ(store.layoutSignature(), "");
    EXPECT_TRUE(desktop.log->records().empty());
    EXPECT_TRUE(std::filesystem::is_directory(desktop.applicationDirectory()));
}

TEST_F(CalibrationStoreTest, ReplaceFitsSavesAndSurvivesARestart) {
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {-2560, 120, 2560, 1440}});
    {
        CalibrationStore store;
        store.replace(fiveDots());
        ASSERT_TRUE(store.model());
        EXPECT_EQ(store.model()->sampleCount, 5);
        EXPECT_EQ(store.layoutSignature(), "-2560,120,2560x1440|0,0,1920x1080");
    }
    const auto saved = nlohmann::json::parse(fileText());
    EXPECT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved["samples"].size(), 5u);
    EXPECT_EQ(saved["layoutSignature"], "-2560,120,2560x1440|0,0,1920x1080");
    EXPECT_EQ(fileText().find('\n'), std::string::npos) << "written compactly";

    desktop.log->clear();
    CalibrationStore reloaded;
    ASSERT_EQ(reloaded.samples().size(), 5u);
    EXPECT_EQ(reloaded.samples()[1].features, fiveDots()[1].features);
    EXPECT_EQ(reloaded.samples()[1].targetX, 1820);
    EXPECT_EQ(reloaded.layoutSignature(), "-2560,120,2560x1440|0,0,1920x1080");
    ASSERT_TRUE(reloaded.model());
    const auto meanError = static_cast<long long>(reloaded.model()->meanError);
    EXPECT_THAT(infos(), ElementsAre("refit from 5 samples, mean error " +
                                     std::to_string(meanError) + "pt"));
}

TEST_F(CalibrationStoreTest, NumbersRoundTripExactly) {
    auto samples = fiveDots();
    samples[0].targetX = -2559.123456789012;
    samples[0].features[1] = 0.1 + 0.2; // not representable in few digits
    {
        CalibrationStore store;
        store.replace(samples);
    }
    CalibrationStore reloaded;
    ASSERT_EQ(reloaded.samples().size(), 5u);
    EXPECT_EQ(reloaded.samples()[0].targetX, samples[0].targetX);
    EXPECT_EQ(reloaded.samples()[0].features[1], samples[0].features[1]);
}

TEST_F(CalibrationStoreTest, UnreadableFilesLeaveTheStoreEmptyAndTheFileUntouched) {
    const std::vector<std::string> broken = {
        "not json at all",
        R"({"samples": []})",
        R"({"samples": {}, "layoutSignature": "0,0,1920x1080"})",
        R"({"samples": [{"features": [1,0,0,0.5,0.5], "targetX": 1, "targetY": 2}],
            "layoutSignature": "0,0,1920x1080"})",
        R"({"samples": [], "layoutSignature": 7})",
        R"([1, 2, 3])",
        "",
    };
    for (const auto& text : broken) {
        writeFile(text);
        CalibrationStore store;
        EXPECT_THAT(store.samples(), IsEmpty()) << text;
        EXPECT_FALSE(store.model()) << text;
        EXPECT_EQ(store.layoutSignature(), "") << text;
        EXPECT_EQ(fileText(), text);
    }
    EXPECT_TRUE(desktop.log->records().empty());
}

TEST_F(CalibrationStoreTest, ExtraMembersAreIgnoredAndDroppedAtTheNextSave) {
    writeFile(R"({"version": 3, "model": {"weightsX": [1]}, "layoutSignature": "0,0,1920x1080",
                 "samples": [{"features": [1, 0, 0, 0.5, 0.5], "targetX": 10, "targetY": 20,
                              "area": 0.04, "source": "click"}]})");
    CalibrationStore store;
    ASSERT_EQ(store.samples().size(), 1u);
    EXPECT_EQ(store.layoutSignature(), "0,0,1920x1080");
    store.append(clickAt(300, 400));
    const auto saved = nlohmann::json::parse(fileText());
    EXPECT_FALSE(saved.contains("version"));
    EXPECT_FALSE(saved.contains("model"));
    EXPECT_FALSE(saved["samples"][0].contains("source"));
}

TEST_F(CalibrationStoreTest, TooFewSamplesLoadWithoutAModel) {
    {
        CalibrationStore store;
        auto three = fiveDots();
        three.resize(3);
        store.replace(three);
    }
    desktop.log->clear();
    CalibrationStore reloaded;
    EXPECT_EQ(reloaded.samples().size(), 3u);
    EXPECT_FALSE(reloaded.model());
    EXPECT_THAT(errors(), ElementsAre("calibration refit failed with 3 samples"));
}

TEST_F(CalibrationStoreTest, AFailedFitKeepsTheEarlierModel) {
    CalibrationStore store;
    store.replace(fiveDots());
    const auto earlier = store.model();
    ASSERT_TRUE(earlier);
    desktop.displays->setFrames({{0, 0, 2560, 1440}});
    store.replace({clickAt(1, 1), clickAt(2, 2)});
    EXPECT_EQ(store.samples().size(), 2u);
    EXPECT_EQ(store.layoutSignature(), "0,0,2560x1440");
    ASSERT_TRUE(store.model());
    EXPECT_EQ(store.model()->weightsX, earlier->weightsX);
    EXPECT_EQ(nlohmann::json::parse(fileText())["samples"].size(), 2u);
    EXPECT_THAT(errors(), ElementsAre("calibration refit failed with 2 samples"));
}

TEST_F(CalibrationStoreTest, AppendKeepsTheNewest400AndTheSignature) {
    CalibrationStore store;
    store.replace(fiveDots());
    const auto signature = store.layoutSignature();
    desktop.displays->setFrames({{0, 0, 3840, 2160}}); // changed since calibration
    for (int i = 0; i < 395; ++i) {
        store.append(clickAt(i, i));
    }
    ASSERT_EQ(store.samples().size(), 400u);
    EXPECT_EQ(store.samples().front().targetX, 100);

    store.append(clickAt(4000, 3000));
    ASSERT_EQ(store.samples().size(), 400u);
    EXPECT_EQ(store.samples().front().targetX, 1820) << "only the oldest sample goes";
    EXPECT_EQ(store.samples().back().targetX, 4000);
    EXPECT_EQ(store.layoutSignature(), signature);
    EXPECT_EQ(store.model()->sampleCount, 400);

    const auto saved = nlohmann::json::parse(fileText());
    ASSERT_EQ(saved["samples"].size(), 400u);
    EXPECT_EQ(saved["samples"][0]["targetX"], 1820);
    EXPECT_EQ(saved["samples"][399]["targetX"], 4000);
    EXPECT_EQ(saved["layoutSignature"], signature);
}

TEST_F(CalibrationStoreTest, NonFiniteSamplesNeverBlockLearning) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    CalibrationStore store;
    auto samples = fiveDots();
    samples.push_back({{1, nan, 0, 0.5, 0.5}, 5, 5, 0.04});
    samples.push_back({{1, 0, 0, 0.5, 0.5}, inf, 5, 0.04});
    store.replace(samples);
    EXPECT_EQ(store.samples().size(), 5u);
    ASSERT_TRUE(store.model());

    store.append({{1, 0, 0, 0.5, 0.5}, 10, 10, nan});
    EXPECT_EQ(store.samples().size(), 5u);
    EXPECT_EQ(errors().size(), 2u);

    // Learning goes on, and is saved, after the bad readings.
    store.append(clickAt(700, 300));
    EXPECT_EQ(store.samples().size(), 6u);
    EXPECT_EQ(store.model()->sampleCount, 6);
    CalibrationStore reloaded;
    EXPECT_EQ(reloaded.samples().size(), 6u);
}

// Makes every write of more than a few bytes fail, even for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(CalibrationStoreTest, AFailedSaveKeepsTheOldFileWholeAndTheMemory) {
    CalibrationStore store;
    store.replace(fiveDots());
    const auto before = fileText();
    {
        FileSizeLimit limit(16);
        store.append(clickAt(500, 500));
    }
    EXPECT_EQ(fileText(), before);
    EXPECT_EQ(store.samples().size(), 6u);
    EXPECT_THAT(errors(), ElementsAre("could not save the calibration to " + file().string()));
    for (const auto& entry : std::filesystem::directory_iterator(desktop.applicationDirectory())) {
        EXPECT_EQ(entry.path().filename(), "calibration.json") << "no temporary file is left";
    }
}

TEST_F(CalibrationStoreTest, ClearForgetsEverythingAndRemovesTheFile) {
    CalibrationStore store;
    store.clear(); // no file yet: quietly nothing
    EXPECT_TRUE(desktop.log->records().empty());
    store.replace(fiveDots());
    store.clear();
    EXPECT_THAT(store.samples(), IsEmpty());
    EXPECT_FALSE(store.model());
    EXPECT_EQ(store.layoutSignature(), "");
    EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(CalibrationStoreTest, WithoutADataDirectoryTheStoreWorksInMemory) {
    auto services = std::make_shared<Platform>(*desktop.services);
    services->fileSystem = std::make_shared<posix::PosixFileSystem>(std::nullopt);
    PlatformInstallation installation(services);
    CalibrationStore store;
    EXPECT_EQ(store.fileLocation(), std::nullopt);
    store.replace(fiveDots());
    EXPECT_TRUE(store.model());
    EXPECT_EQ(errors().size(), 1u);
}

TEST(LayoutSignature, IsSortedAsTextAndTruncatedTowardZero) {
    using S = CalibrationStore;
    const plinth::Rect laptop{0, 0, 1512, 982}, external{-2560, 120, 2560, 1440};
    EXPECT_EQ(S::signatureOf({laptop, external}), "-2560,120,2560x1440|0,0,1512x982");
    EXPECT_EQ(S::signatureOf({external, laptop}), "-2560,120,2560x1440|0,0,1512x982");
    EXPECT_EQ(S::signatureOf({{-0.5, 1079.9, 1920.7, 1080.2}}), "0,1079,1920x1080");
    // Plain character order, not numeric: "150," < "1512,".
    EXPECT_EQ(S::signatureOf({{1512, 0, 100, 100}, {150, 0, 100, 100}}),
              "150,0,100x100|1512,0,100x100");
    EXPECT_EQ(S::signatureOf({}), "");
    EXPECT_EQ(S::signatureOf({{10, 10, -100, -50}}), "10,10,100x50");
}

TEST(LayoutSignature, FollowsThePlatformsDisplays) {
    sim::SimDesktop desktop;
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
    EXPECT_EQ(CalibrationStore::currentLayoutSignature(), "0,0,1920x1080|1920,0,1280x1024");
    desktop.displays->setFrames({});
    EXPECT_EQ(CalibrationStore::currentLayoutSignature(), "");
}

TEST(CalibrationStoreShared, IsOnePerInstalledPlatform) {
    sim::SimDesktop desktop;
    auto& store = CalibrationStore::shared();
    EXPECT_EQ(&store, &CalibrationStore::shared());
    store.replace(fiveDots());
    EXPECT_EQ(CalibrationStore::shared().samples().size(), 5u);
}

} // namespace
} // namespace orvane
