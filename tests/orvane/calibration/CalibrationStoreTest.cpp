#include "orvane/calibration/CalibrationStore.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "plinth/Numeric.hpp"

#include <array>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <linux/capability.h>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

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
    std::filesystem::path aside() const {
        return desktop.applicationDirectory() / "calibration.json.bad";
    }
    // The n-th name a damaged file is moved aside to: the plain one, then ".1", ".2"...
    std::string asideName(int n) const {
        std::string name = aside().string();
        if (n > 0) {
            name += '.';
            name += std::to_string(n);
        }
        return name;
    }
    std::string textOf(const std::filesystem::path& path) const {
        auto read = desktop.fileSystem->read(path, 1 << 24);
        return read.outcome == FileRead::Outcome::read ? read.content : "<missing>";
    }
    std::string fileText() const { return textOf(file()); }
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
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {-2560, -480, 2560, 1440}});
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
    // Compact, and in the order a person reads best: not sorted by key.
    EXPECT_TRUE(fileText().starts_with(R"({"samples":[{"features":[1.0,-0.2,-0.1,0.4,0.45],)"
                                       R"("targetX":100.0,"targetY":100.0,"area":0.04},{)"))
        << fileText();
    EXPECT_TRUE(fileText().ends_with(R"(],"layoutSignature":"-2560,120,2560x1440|0,0,1920x1080"})"))
        << fileText();
    // Head poses are personal.
    EXPECT_EQ(std::filesystem::status(file()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    desktop.log->clear();
    CalibrationStore reloaded;
    ASSERT_EQ(reloaded.samples().size(), 5u);
    EXPECT_EQ(reloaded.samples()[1].features, fiveDots()[1].features);
    EXPECT_EQ(reloaded.samples()[1].targetX, 1820);
    EXPECT_EQ(reloaded.layoutSignature(), "-2560,120,2560x1440|0,0,1920x1080");
    ASSERT_TRUE(reloaded.model());
    const auto meanError = plinth::truncatedToInt64(reloaded.model()->meanError);
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

// A damaged file is kept for a person to look at, never silently replaced by the next save.
TEST_F(CalibrationStoreTest, UndecodableFilesAreMovedAsideAndTheStoreStartsEmpty) {
    const std::vector<std::pair<std::string, std::string>> broken = {
        {"not json at all", "not valid JSON"},
        {R"({"samples": []})", R"(no "layoutSignature" text)"},
        {R"({"samples": {}, "layoutSignature": "0,0,1920x1080"})", R"(no "samples" array)"},
        {R"({"samples": [{"features": [1,0,0,0.5,0.5], "targetX": 1, "targetY": 2, "area": 1},
                         {"features": [1,0,0,0.5,0.5], "targetX": 1, "targetY": 2}],
            "layoutSignature": "0,0,1920x1080"})",
         "sample 1 is not valid"},
        {R"({"samples": [], "layoutSignature": 7})", R"(no "layoutSignature" text)"},
        {R"([1, 2, 3])", "not a JSON object"},
        {"", "not valid JSON"},
        // Nested far deeper than any parser's stack would allow if it recursed.
        {std::string(300000, '[') + std::string(300000, ']'), "not a JSON object"},
    };
    for (const auto& [text, problem] : broken) {
        const auto shown = text.substr(0, 40);
        writeFile(text);
        desktop.log->clear();
        CalibrationStore store;
        EXPECT_THAT(store.samples(), IsEmpty()) << shown;
        EXPECT_FALSE(store.model()) << shown;
        EXPECT_EQ(store.layoutSignature(), "") << shown;
        EXPECT_FALSE(std::filesystem::exists(file())) << shown;
        EXPECT_EQ(textOf(aside()), text) << shown;
        EXPECT_THAT(errors(),
                    ElementsAre("calibration file " + file().string() + " cannot be used (" +
                                problem + "): moved aside to " + aside().string()));
        if (&text != &broken.back().first) {
            std::filesystem::remove(aside());
        }
    }
    CalibrationStore store;
    store.replace(fiveDots());
    EXPECT_EQ(nlohmann::json::parse(fileText())["samples"].size(), 5u);
    EXPECT_EQ(textOf(aside()), broken.back().first) << "saving leaves the moved file alone";
}

TEST_F(CalibrationStoreTest, FilesThatAreNoRegularFileOrTooLargeAreNeverReadAndMovedAside) {
    // A device reads as empty content, or forever; the link itself is moved, not the device.
    std::filesystem::create_directories(desktop.applicationDirectory());
    std::filesystem::create_symlink("/dev/null", file());
    {
        CalibrationStore store;
        EXPECT_THAT(store.samples(), IsEmpty());
        EXPECT_THAT(errors(), ElementsAre("calibration file " + file().string() +
                                          " cannot be used (a character device, not a regular "
                                          "file): moved aside to " +
                                          aside().string()));
        EXPECT_TRUE(std::filesystem::is_symlink(aside()));
        EXPECT_TRUE(std::filesystem::exists("/dev/null"));
    }
    std::filesystem::remove(aside());

    // Padded with blanks, a valid file of exactly the limit still loads; one byte more does not.
    desktop.log->clear();
    std::string text = R"({"samples": [], "layoutSignature": "0,0,1920x1080"})";
    text.resize(CalibrationStore::fileSizeLimit, ' ');
    writeFile(text);
    {
        CalibrationStore store;
        EXPECT_EQ(store.layoutSignature(), "0,0,1920x1080");
        EXPECT_TRUE(std::filesystem::exists(file()));
    }
    text.push_back(' ');
    writeFile(text);
    desktop.log->clear();
    CalibrationStore store;
    EXPECT_EQ(store.layoutSignature(), "");
    EXPECT_FALSE(std::filesystem::exists(file()));
    EXPECT_EQ(std::filesystem::file_size(aside()), CalibrationStore::fileSizeLimit + 1);
    EXPECT_THAT(errors(), ElementsAre("calibration file " + file().string() +
                                      " cannot be used (larger than the limit of 4194304 "
                                      "bytes): moved aside to " +
                                      aside().string()));
}

// A directory is not ours to move, and nothing can be saved over it either.
TEST_F(CalibrationStoreTest, ADirectoryInThePlaceOfTheFileIsLeftAlone) {
    std::filesystem::create_directories(file() / "inside");
    CalibrationStore store;
    EXPECT_THAT(store.samples(), IsEmpty());
    store.replace(fiveDots());
    EXPECT_TRUE(store.model());
    EXPECT_TRUE(std::filesystem::is_directory(file() / "inside"));
    EXPECT_FALSE(std::filesystem::exists(aside()));
    EXPECT_THAT(errors(),
                ElementsAre("calibration file " + file().string() + " is a directory: not used",
                            "could not save the calibration to " + file().string()));
}

// However often the file is damaged, the newest few stay aside and the store keeps saving.
TEST_F(CalibrationStoreTest, OnlyTheNewestUnusableFilesAreKeptAndSavingGoesOn) {
    const int damaged = CalibrationStore::asideNameCount + 2;
    for (int i = 0; i < damaged; ++i) {
        writeFile("{damaged " + std::to_string(i));
        desktop.log->clear();
        CalibrationStore store;
        EXPECT_THAT(errors(), ElementsAre("calibration file " + file().string() +
                                          " cannot be used (not valid JSON): moved aside to " +
                                          aside().string()));
        store.replace(fiveDots());
        EXPECT_EQ(nlohmann::json::parse(fileText())["samples"].size(), 5u) << i;
    }
    for (int kept = 0; kept < CalibrationStore::asideNameCount; ++kept) {
        const auto name = asideName(kept);
        EXPECT_EQ(textOf(name), "{damaged " + std::to_string(damaged - 1 - kept)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(aside().string() + "." +
                                         std::to_string(CalibrationStore::asideNameCount)));
}

// Where every name is held by something that is not ours to move, nothing may replace or
// remove the damaged file.
TEST_F(CalibrationStoreTest, AFileThatCannotBeMovedAsideIsNeverOverwritten) {
    for (int i = 0; i < CalibrationStore::asideNameCount; ++i) {
        std::filesystem::create_directories(asideName(i) + "/inside");
    }
    writeFile("{damaged");
    CalibrationStore store;
    EXPECT_EQ(store.fileLocation(), std::nullopt);
    EXPECT_THAT(errors(), ElementsAre("calibration file " + file().string() +
                                      " cannot be used (not valid JSON) nor moved aside: "
                                      "calibration is kept in memory only"));
    store.replace(fiveDots());
    EXPECT_TRUE(store.model());
    store.clear();
    EXPECT_EQ(fileText(), "{damaged");
}

TEST_F(CalibrationStoreTest, OfALongerSampleListTheNewest400AreKept) {
    nlohmann::ordered_json samples = nlohmann::ordered_json::array();
    for (int i = 0; i < 450; ++i) {
        samples.push_back(plinth::encode(clickAt(i, 2 * i)));
    }
    writeFile(
        nlohmann::ordered_json{{"layoutSignature", "0,0,1920x1080"}, {"samples", samples}}.dump());
    CalibrationStore store;
    ASSERT_EQ(store.samples().size(), 400u);
    EXPECT_EQ(store.samples().front().targetX, 50);
    EXPECT_EQ(store.samples().back().targetX, 449);
    EXPECT_EQ(store.model()->sampleCount, 400);
    EXPECT_THAT(errors(), ElementsAre("calibration file holds 450 samples: kept the newest 400"));
}

// A save killed between writing its temporary file and renaming it leaves that file behind.
TEST_F(CalibrationStoreTest, LeftoverTemporaryFilesAreRemovedAtLoad) {
    {
        CalibrationStore store;
        store.replace(fiveDots());
    }
    const auto leftover = desktop.applicationDirectory() / ".calibration.json.tmp.q7Rk2Z";
    ASSERT_TRUE(desktop.fileSystem->writeAtomically(leftover, R"({"samples":[{"featu)"));
    ASSERT_TRUE(desktop.fileSystem->writeAtomically(desktop.applicationDirectory() / "notes", "x"));
    desktop.log->clear();
    CalibrationStore store;
    EXPECT_EQ(store.samples().size(), 5u);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(std::filesystem::exists(desktop.applicationDirectory() / "notes"));
    EXPECT_EQ(infos().front(), "removed 1 temporary file left by an interrupted calibration save");
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

// Targets far off any desktop: the fit must neither log nor keep numbers no integer holds.
TEST_F(CalibrationStoreTest, AbsurdTargetsGiveNoModelOnceTheErrorOverflows) {
    const auto alternating = [](double size) {
        std::vector<CalibrationSample> samples;
        for (int i = 0; i < 8; ++i) {
            samples.push_back(clickAt(300.0 * i, 200.0 * (i % 3)));
            samples.back().targetX = i % 2 == 0 ? size : -size;
        }
        return samples;
    };
    CalibrationStore store;
    store.replace(alternating(1e20));
    ASSERT_TRUE(store.model());
    EXPECT_THAT(infos(), ElementsAre("refit from 8 samples, mean error 9223372036854775807pt"));

    store.clear();
    store.replace(alternating(1e160));
    EXPECT_FALSE(store.model());
    EXPECT_EQ(store.samples().size(), 8u);
    EXPECT_THAT(errors(), ElementsAre("calibration refit failed with 8 samples"));
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

TEST(LayoutSignature, FollowsThePlatformsDisplaysInTheFormFilesNameThem) {
    sim::SimDesktop desktop;
    // Bottoms aligned: files name each display's place with y upwards from the primary's
    // bottom, so that calibrations stored that way still fit.
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {1920, 56, 1280, 1024}});
    EXPECT_EQ(CalibrationStore::currentLayoutSignature(), "0,0,1920x1080|1920,0,1280x1024");
    desktop.displays->setFrames({{0, 0, 1920, 1080}, {0, -1080, 1920, 1080}});
    EXPECT_EQ(CalibrationStore::currentLayoutSignature(), "0,0,1920x1080|0,1080,1920x1080");
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

// A directory nobody may write into, for the life of the object. Root ignores permission bits,
// so as root the calling thread also gives up its right to (its effective set only: taken
// back at the end).
class ReadOnlyDirectory {
public:
    explicit ReadOnlyDirectory(std::filesystem::path directory) : directory_(std::move(directory)) {
        std::filesystem::permissions(directory_,
                                     std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
        if (::geteuid() == 0 && capabilities(false, saved_)) {
            dropped_ = true;
            auto reduced = saved_;
            reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
            capabilities(true, reduced);
        }
    }
    ~ReadOnlyDirectory() {
        if (dropped_) {
            capabilities(true, saved_);
        }
        std::filesystem::permissions(directory_, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    ReadOnlyDirectory(const ReadOnlyDirectory&) = delete;
    ReadOnlyDirectory& operator=(const ReadOnlyDirectory&) = delete;

private:
    using Sets = std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3>;
    static bool capabilities(bool set, Sets& sets) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(set ? SYS_capset : SYS_capget, &header, sets.data()) == 0;
    }
    std::filesystem::path directory_;
    Sets saved_{};
    bool dropped_ = false;
};

// A save into a read-only directory fails and says so; the samples stay in memory, and the
// first save once the directory is writable again writes them all.
TEST_F(CalibrationStoreTest, ASaveIntoAReadOnlyDirectoryFailsAndTheNextOneCatchesUp) {
    CalibrationStore store;
    store.replace(fiveDots());
    const auto before = fileText();
    {
        ReadOnlyDirectory locked(desktop.applicationDirectory());
        store.append(clickAt(500, 500));
        EXPECT_EQ(fileText(), before);
    }
    EXPECT_EQ(store.samples().size(), 6u);
    EXPECT_THAT(errors(), ElementsAre("could not save the calibration to " + file().string()));
    store.append(clickAt(600, 600));
    EXPECT_EQ(errors().size(), 1u);
    CalibrationStore reloaded;
    EXPECT_EQ(reloaded.samples().size(), 7u);
}

} // namespace
} // namespace orvane
