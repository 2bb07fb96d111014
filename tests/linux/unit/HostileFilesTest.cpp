// Files in the places of the calibration and settings files that would hang a naive reader or
// exhaust its memory. Each is read in a child process, so that a hang is a failed test rather
// than a stuck one and the memory it took can be measured from a clean peak.
#include "backends/linux/QSettingsPreferences.hpp"
#include "backends/sim/SimDesktop.hpp"
#include "orvane/calibration/CalibrationStore.hpp"
#include "orvane/support/Prefs.hpp"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvane {
namespace {

using ::testing::HasSubstr;

// Far more than any of these reads may take; only a hang comes near it.
constexpr auto hangBound = std::chrono::seconds(30);
constexpr long memoryBoundKiB = 300 * 1024;

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field)) {
            return std::stol(line.substr(std::string_view(field).size()));
        }
    }
    return -1;
}

struct ChildRun {
    bool finished = false;
    long grownKiB = 0; // peak resident memory above what the child started with
    std::string output;
};

// Runs `work` in a child process and answers what it printed and how far its resident memory
// peaked above where it began.
ChildRun runInChild(const std::function<std::string()>& work) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        std::ofstream("/proc/self/clear_refs") << "5"; // restarts the peak from here
        const long start = statusKiB("VmRSS:");
        const auto output = work();
        const auto report = std::to_string(statusKiB("VmHWM:") - start) + "\n" + output;
        [[maybe_unused]] auto written = ::write(pipeEnds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    ChildRun run;
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + hangBound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{pipeEnds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
            ::kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const auto got = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0) {
            run.finished = true;
            break;
        }
        received.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    const auto newline = received.find('\n');
    if (run.finished && newline != std::string::npos) {
        run.grownKiB = std::stol(received.substr(0, newline));
        run.output = received.substr(newline + 1);
    }
    return run;
}

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string textOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file of that size whose blocks are never written.
void writeSparse(const std::filesystem::path& file, off_t size) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

// A calibration file of that many samples, written as it is made.
void writeSamples(const std::filesystem::path& file, std::size_t count) {
    std::ofstream out(file, std::ios::binary);
    out << R"({"layoutSignature":"0,0,1920x1080","samples":[)";
    for (std::size_t i = 0; i < count; ++i) {
        out << (i == 0 ? "" : ",") << R"({"features":[1,0,0,0.5,0.5],"targetX":)" << i % 1920
            << R"(,"targetY":2,"area":0.04})";
    }
    out << "]}";
}

class HostileCalibrationFile : public ::testing::Test {
protected:
    std::filesystem::path file() const {
        return desktop.applicationDirectory() / CalibrationStore::fileName;
    }
    std::filesystem::path aside() const { return file().string() + ".bad"; }

    // Loads the store in a child: its sample count, then its error lines.
    ChildRun load() {
        return runInChild([this] {
            CalibrationStore store;
            std::string output = std::to_string(store.samples().size()) + "\n";
            for (const auto& line : desktop.log->lines(LogLevel::error)) {
                output += line + "\n";
            }
            return output;
        });
    }

    void expectRefused(const ChildRun& run, const std::string& why) {
        ASSERT_TRUE(run.finished) << "no answer within " << hangBound.count() << " s";
        EXPECT_LT(run.grownKiB, memoryBoundKiB);
        EXPECT_THAT(run.output, ::testing::StartsWith("0\n"));
        EXPECT_THAT(run.output, HasSubstr(why));
    }

    void SetUp() override { std::filesystem::create_directories(desktop.applicationDirectory()); }

    sim::SimDesktop desktop;
};

TEST_F(HostileCalibrationFile, HugeFilesAreRefusedUnreadAndMovedAside) {
    writeSparse(file(), 100 * 1024 * 1024);
    auto run = load();
    expectRefused(run, "cannot be used (larger than the limit of 4194304 bytes): moved aside");
    EXPECT_EQ(std::filesystem::file_size(aside()), 100u * 1024 * 1024);

    std::filesystem::remove(aside());
    writeSamples(file(), 1'000'000);
    run = load();
    expectRefused(run, "larger than the limit");
    EXPECT_TRUE(std::filesystem::exists(aside()));
}

// Tens of thousands of samples, under the size limit: read in bounded memory, the newest kept.
TEST_F(HostileCalibrationFile, AFullSizedFileOfSamplesLoadsTheNewest400) {
    const std::size_t count = 50'000;
    writeSamples(file(), count);
    ASSERT_LT(std::filesystem::file_size(file()), CalibrationStore::fileSizeLimit);
    const auto run = load();
    ASSERT_TRUE(run.finished);
    EXPECT_LT(run.grownKiB, memoryBoundKiB);
    EXPECT_THAT(run.output, ::testing::StartsWith("400\n"));
    EXPECT_THAT(run.output, HasSubstr("holds " + std::to_string(count) + " samples"));
    EXPECT_TRUE(std::filesystem::exists(file()));
}

TEST_F(HostileCalibrationFile, DeepNestingCostsNoMemory) {
    // The deepest the size limit allows, at the top and inside the sample list.
    const auto depth = CalibrationStore::fileSizeLimit - 64;
    writeText(file(), std::string(depth, '['));
    auto run = load();
    expectRefused(run, "cannot be used (not valid JSON): moved aside");

    std::filesystem::remove(aside());
    writeText(file(), R"({"layoutSignature":"","samples":)" + std::string(100'000, '[') +
                          std::string(100'000, ']') + "}");
    run = load();
    expectRefused(run, "cannot be used (sample 0 is not valid): moved aside");
}

TEST_F(HostileCalibrationFile, DevicesFifosAndDirectoriesAreNeverOpened) {
    std::filesystem::create_symlink("/dev/zero", file());
    auto run = load();
    expectRefused(run, "cannot be used (a character device, not a regular file): moved aside");
    EXPECT_TRUE(std::filesystem::is_symlink(aside()));

    std::filesystem::remove(aside());
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    run = load();
    expectRefused(run, "cannot be used (a FIFO, not a regular file): moved aside");
    EXPECT_TRUE(std::filesystem::is_fifo(aside()));

    std::filesystem::remove(aside());
    std::filesystem::create_directory(file());
    run = load();
    expectRefused(run, "is a directory: not used");
    EXPECT_TRUE(std::filesystem::is_directory(file()));
}

class HostileSettingsFile : public ::testing::Test {
protected:
    std::string file() const { return (desktop.supportDirectory / "Orvane.conf").string(); }

    // Opens the settings in a child: a setting read through them, then what was reported.
    ChildRun open() {
        const auto path = file();
        return runInChild([path] {
            std::string reported;
            const Prefs prefs(std::make_shared<linuxbackend::QSettingsPreferences>(
                path, [&reported](const std::string& problem) { reported += problem + "\n"; }));
            return std::to_string(prefs.settleMilliseconds()) + "\n" + reported;
        });
    }

    void expectRefused(const std::string& why, const std::string& aside) {
        const auto run = open();
        ASSERT_TRUE(run.finished) << "no answer within " << hangBound.count() << " s";
        EXPECT_LT(run.grownKiB, memoryBoundKiB);
        EXPECT_EQ(run.output, "300\nsettings file " + file() + " cannot be used (" + why +
                                  "): moved aside to " + file() + aside + "\n");
        // The next start finds no file in the way, and saves go to a new one. QSettings saves
        // through a symbolic link, replacing its target: never let it near a device.
        ASSERT_FALSE(std::filesystem::is_symlink(file()));
        linuxbackend::QSettingsPreferences prefs(file());
        prefs.setInteger(PrefKey::settleMilliseconds, 450);
        prefs.sync();
        EXPECT_EQ(linuxbackend::QSettingsPreferences(file()).integer(PrefKey::settleMilliseconds),
                  450);
        EXPECT_TRUE(std::filesystem::is_regular_file(file()));
        std::filesystem::remove(file());
    }

    sim::SimDesktop desktop;
};

TEST_F(HostileSettingsFile, FifosDevicesAndHugeFilesAreMovedAsideUnread) {
    ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
    expectRefused("a FIFO, not a regular file", ".bad");
    EXPECT_TRUE(std::filesystem::is_fifo(file() + ".bad"));

    // The newest is always ".bad"; the earlier ones move on.
    std::filesystem::create_symlink("/dev/zero", file());
    expectRefused("a character device, not a regular file", ".bad");
    EXPECT_TRUE(std::filesystem::is_symlink(file() + ".bad"));
    EXPECT_TRUE(std::filesystem::is_fifo(file() + ".bad.1"));

    writeSparse(file(), 100 * 1024 * 1024);
    expectRefused("larger than the limit of 1048576 bytes", ".bad");
    EXPECT_EQ(std::filesystem::file_size(file() + ".bad"), 100u * 1024 * 1024);
    EXPECT_TRUE(std::filesystem::is_symlink(file() + ".bad.1"));
    EXPECT_TRUE(std::filesystem::is_fifo(file() + ".bad.2"));
}

TEST_F(HostileSettingsFile, WithEveryNameTakenTheOldestGoes) {
    const int count = linuxbackend::QSettingsPreferences::asideNameCount;
    for (int i = 0; i < count; ++i) {
        writeText(file() + ".bad" + (i == 0 ? std::string() : std::string(".") + std::to_string(i)),
                  "earlier " + std::to_string(i));
    }
    writeSparse(file(), 2 * 1024 * 1024);
    expectRefused("larger than the limit of 1048576 bytes", ".bad");
    EXPECT_EQ(std::filesystem::file_size(file() + ".bad"), 2u * 1024 * 1024);
    for (int i = 1; i < count; ++i) {
        EXPECT_EQ(textOf(file() + ".bad." + std::to_string(i)), "earlier " + std::to_string(i - 1));
    }
    EXPECT_FALSE(std::filesystem::exists(file() + ".bad." + std::to_string(count)));
}

TEST_F(HostileSettingsFile, ADirectoryIsLeftAloneAndTheSettingsStillAnswer) {
    std::filesystem::create_directories(file() + "/inside");
    const auto run = open();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.output,
              "300\nsettings file " + file() + " is a directory: settings are not saved\n");
    EXPECT_TRUE(std::filesystem::is_directory(file() + "/inside"));
}

TEST_F(HostileSettingsFile, WithNoPlaceToMoveItTheFileIsKeptAndSettingsLiveInMemory) {
    writeSparse(file(), 2 * 1024 * 1024);
    // Not ours to move or remove.
    for (int i = 0; i < linuxbackend::QSettingsPreferences::asideNameCount; ++i) {
        std::filesystem::create_directories(
            file() + ".bad" + (i == 0 ? std::string() : std::string(".") + std::to_string(i)) +
            "/inside");
    }
    std::string reported;
    {
        linuxbackend::QSettingsPreferences prefs(
            file(), [&reported](const std::string& problem) { reported += problem; });
        prefs.setInteger(PrefKey::settleMilliseconds, 450);
        EXPECT_EQ(prefs.integer(PrefKey::settleMilliseconds), 450);
        prefs.remove(PrefKey::settleMilliseconds);
        EXPECT_EQ(prefs.value(PrefKey::settleMilliseconds), std::nullopt);
        prefs.setBool(PrefKey::moveCursor, false);
        prefs.sync();
    }
    EXPECT_EQ(reported, "settings file " + file() +
                            " cannot be used (larger than the limit of 1048576 bytes) nor moved "
                            "aside: settings are kept in memory only");
    EXPECT_EQ(std::filesystem::file_size(file()), 2u * 1024 * 1024);
}

TEST(QSettingsPreferencesFile, TheUsersFileIsWhereQSettingsKeepsIt) {
    sim::SimDesktop desktop;
    const auto config = desktop.supportDirectory / "config";
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string previous = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    {
        linuxbackend::QSettingsPreferences prefs;
        EXPECT_EQ(prefs.fileName(), (config / "Orvane" / "Orvane.conf").string());
        prefs.setString(PrefKey::cameraID, "usb-1");
    }
    saved ? ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(std::filesystem::is_regular_file(config / "Orvane" / "Orvane.conf"));
}

} // namespace
} // namespace orvane
