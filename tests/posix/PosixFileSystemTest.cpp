#include "backends/posix/PosixFileSystem.hpp"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::posix {
namespace {

class PosixFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-fs-XXXXXX");
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::size_t entryCount() const {
        return static_cast<std::size_t>(std::distance(
            std::filesystem::directory_iterator(directory), std::filesystem::directory_iterator()));
    }

    std::optional<std::string> content(const std::filesystem::path& file) const {
        auto result = fileSystem.read(file, limit);
        if (result.outcome != FileRead::Outcome::read) {
            return std::nullopt;
        }
        return result.content;
    }

    static constexpr std::size_t limit = 1 << 20;
    std::filesystem::path directory;
    PosixFileSystem fileSystem{std::nullopt};
};

std::filesystem::perms permissionsOf(const std::filesystem::path& file) {
    return std::filesystem::status(file).permissions();
}

TEST_F(PosixFileSystemTest, AtomicWriteReplacesTheWholeFile) {
    const auto file = directory / "data.json";
    EXPECT_EQ(fileSystem.read(file, limit).outcome, FileRead::Outcome::missing);
    ASSERT_TRUE(fileSystem.writeAtomically(file, std::string(100000, 'a')));
    ASSERT_TRUE(fileSystem.writeAtomically(file, "short"));
    EXPECT_EQ(content(file), "short");
    EXPECT_EQ(entryCount(), 1u);
    ASSERT_TRUE(fileSystem.writeAtomically(file, ""));
    EXPECT_EQ(content(file), "");
}

TEST_F(PosixFileSystemTest, AFailedWriteLeavesTheOldFileAndNoLitter) {
    const auto file = directory / "data.json";
    ASSERT_TRUE(fileSystem.writeAtomically(file, "old"));

    // A file-size limit makes the write fail half-way, even for root.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = fileSystem.writeAtomically(file, std::string(5000, 'n'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(written);
    EXPECT_EQ(content(file), "old");
    EXPECT_EQ(entryCount(), 1u);

    EXPECT_FALSE(fileSystem.writeAtomically(directory / "missing" / "data.json", "x"));
}

// What is written may be personal: only its owner may read it, whatever the old file allowed.
TEST_F(PosixFileSystemTest, AtomicWritesAreForTheOwnerOnly) {
    using std::filesystem::perms;
    const auto file = directory / "data.json";
    ASSERT_TRUE(fileSystem.writeAtomically(file, "1"));
    EXPECT_EQ(permissionsOf(file), perms::owner_read | perms::owner_write);

    std::filesystem::permissions(file, perms::owner_all | perms::group_read | perms::others_read);
    ASSERT_TRUE(fileSystem.writeAtomically(file, "2"));
    EXPECT_EQ(permissionsOf(file), perms::owner_read | perms::owner_write);

    const mode_t previous = ::umask(0);
    const bool written = fileSystem.writeAtomically(file, "3");
    ::umask(previous);
    ASSERT_TRUE(written);
    EXPECT_EQ(permissionsOf(file), perms::owner_read | perms::owner_write);
}

TEST_F(PosixFileSystemTest, ReadsRegularFilesUpToTheLimit) {
    const auto file = directory / "data.json";
    ASSERT_TRUE(fileSystem.writeAtomically(file, "0123456789"));
    auto result = fileSystem.read(file, 10);
    EXPECT_EQ(result.outcome, FileRead::Outcome::read);
    EXPECT_EQ(result.content, "0123456789");

    result = fileSystem.read(file, 9);
    EXPECT_EQ(result.outcome, FileRead::Outcome::tooLarge);
    EXPECT_EQ(result.content, "");
    EXPECT_EQ(result.problem, "larger than the limit of 9 bytes");

    // A link to a regular file is followed.
    std::filesystem::create_symlink(file, directory / "link.json");
    EXPECT_EQ(content(directory / "link.json"), "0123456789");

    // A dangling link or a path through a file names nothing.
    std::filesystem::create_symlink(directory / "gone", directory / "dangling");
    EXPECT_EQ(fileSystem.read(directory / "dangling", limit).outcome, FileRead::Outcome::missing);
    EXPECT_EQ(fileSystem.read(file / "child", limit).outcome, FileRead::Outcome::missing);

    std::filesystem::create_symlink(directory / "loop-b", directory / "loop-a");
    std::filesystem::create_symlink(directory / "loop-a", directory / "loop-b");
    result = fileSystem.read(directory / "loop-a", limit);
    EXPECT_EQ(result.outcome, FileRead::Outcome::failed);
    EXPECT_FALSE(result.problem.empty());
}

// Anything but a regular file is refused without being read: /dev/null would read as empty
// content, /dev/zero would never end, and a FIFO would block until a writer came.
TEST_F(PosixFileSystemTest, RefusesWhatIsNotARegularFileWithoutBlocking) {
    std::filesystem::create_symlink("/dev/null", directory / "null");
    auto result = fileSystem.read(directory / "null", limit);
    EXPECT_EQ(result.outcome, FileRead::Outcome::notARegularFile);
    EXPECT_EQ(result.problem, "a character device, not a regular file");

    EXPECT_EQ(fileSystem.read(directory, limit).outcome, FileRead::Outcome::directory);

    const auto fifo = directory / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto reading = std::async(std::launch::async, [&] { return fileSystem.read(fifo, limit); });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let the blocked open return so that the test can end.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        ::close(writer);
        ADD_FAILURE() << "reading a FIFO blocked";
    }
    result = reading.get();
    EXPECT_EQ(result.outcome, FileRead::Outcome::notARegularFile);
    EXPECT_EQ(result.problem, "a FIFO, not a regular file");
}

// A save killed between creating its temporary file and renaming it leaves the file behind.
TEST_F(PosixFileSystemTest, RemovesOnlyTheAtomicWritesLeftoverTemporaries) {
    const auto file = directory / "data.json";
    const auto touch = [this](const std::string& name) {
        ASSERT_TRUE(fileSystem.writeAtomically(directory / name, "x"));
    };
    touch(".data.json.tmp.Ab12Cd");
    touch(".data.json.tmp.zzzzzz");
    touch("data.json");
    touch(".data.json.tmp.Ab12C");   // too short
    touch(".data.json.tmp.Ab12Cde"); // too long
    touch(".data.json.tmp.Ab-12C");  // not from mkstemp's alphabet
    touch(".other.json.tmp.Ab12Cd"); // another file's
    touch("data.json.tmp.Ab12Cd");   // not hidden
    touch(".data.json.backup");
    std::filesystem::create_directory(directory / ".data.json.tmp.Dir123");
    std::filesystem::create_symlink(file, directory / ".data.json.tmp.Lnk123");
    const auto before = entryCount();

    EXPECT_EQ(fileSystem.removeLeftoverTemporaries(file), 2u);
    EXPECT_EQ(entryCount(), before - 2);
    EXPECT_FALSE(std::filesystem::exists(directory / ".data.json.tmp.Ab12Cd"));
    EXPECT_FALSE(std::filesystem::exists(directory / ".data.json.tmp.zzzzzz"));
    EXPECT_EQ(content(file), "x");
    EXPECT_EQ(fileSystem.removeLeftoverTemporaries(file), 0u);
    EXPECT_EQ(fileSystem.removeLeftoverTemporaries(directory / "missing" / "data.json"), 0u);
}

TEST_F(PosixFileSystemTest, RenameMovesTheEntryAndReplacesAFileButNotADirectory) {
    const auto file = directory / "data.json";
    const auto aside = directory / "data.json.bad";
    ASSERT_TRUE(fileSystem.writeAtomically(file, "new"));
    ASSERT_TRUE(fileSystem.writeAtomically(aside, "old"));
    EXPECT_TRUE(fileSystem.rename(file, aside));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(content(aside), "new");

    // A link is moved, its target left where it is.
    std::filesystem::create_symlink(aside, file);
    EXPECT_TRUE(fileSystem.rename(file, directory / "moved"));
    EXPECT_TRUE(std::filesystem::is_symlink(directory / "moved"));
    EXPECT_EQ(content(aside), "new");

    std::filesystem::create_directory(directory / "dir");
    std::filesystem::create_directory(directory / "dir" / "inside");
    EXPECT_FALSE(fileSystem.rename(aside, directory / "dir"));
    EXPECT_EQ(content(aside), "new");
    EXPECT_FALSE(fileSystem.rename(directory / "missing", directory / "other"));
}

TEST_F(PosixFileSystemTest, MovingAsideKeepsTheNewestAndDropsTheOldest) {
    const auto file = directory / "data.json";
    const auto bad = [this](const char* suffix) {
        return directory / ("data.json.bad" + std::string(suffix));
    };
    ASSERT_TRUE(fileSystem.writeAtomically(file, "first"));
    EXPECT_EQ(moveAside(fileSystem, file, 3), bad(""));
    std::filesystem::create_symlink("nowhere", file); // dangling: moved as it is
    EXPECT_EQ(moveAside(fileSystem, file, 3), bad(""));
    EXPECT_TRUE(std::filesystem::is_symlink(bad("")));
    EXPECT_EQ(content(bad(".1")), "first");

    ASSERT_TRUE(fileSystem.writeAtomically(file, "third"));
    EXPECT_EQ(moveAside(fileSystem, file, 3), bad(""));
    ASSERT_TRUE(fileSystem.writeAtomically(file, "fourth"));
    EXPECT_EQ(moveAside(fileSystem, file, 3), bad(""));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(content(bad("")), "fourth");
    EXPECT_EQ(content(bad(".1")), "third");
    EXPECT_TRUE(std::filesystem::is_symlink(bad(".2")));
    EXPECT_FALSE(std::filesystem::exists(bad(".3")));
}

TEST_F(PosixFileSystemTest, MovingAsideNeverReplacesNorRemovesADirectory) {
    const auto file = directory / "data.json";
    ASSERT_TRUE(fileSystem.writeAtomically(file, "damaged"));
    std::filesystem::create_directories(directory / "data.json.bad" / "a");
    std::filesystem::create_directories(directory / "data.json.bad.1" / "b");
    // Directories on every name: the file stays where it is.
    EXPECT_EQ(moveAside(fileSystem, file, 2), std::nullopt);
    EXPECT_EQ(content(file), "damaged");
    // With a free name behind them they move along like the rest.
    EXPECT_EQ(moveAside(fileSystem, file, 3), directory / "data.json.bad");
    EXPECT_EQ(content(directory / "data.json.bad"), "damaged");
    EXPECT_TRUE(std::filesystem::exists(directory / "data.json.bad.1" / "a"));
    EXPECT_TRUE(std::filesystem::exists(directory / "data.json.bad.2" / "b"));
}

TEST_F(PosixFileSystemTest, RemoveAndCreateDirectoriesReportTheOutcome) {
    const auto nested = directory / "a" / "b" / "Orvane";
    EXPECT_TRUE(fileSystem.createDirectories(nested));
    EXPECT_TRUE(fileSystem.createDirectories(nested));
    const auto file = nested / "x";
    EXPECT_FALSE(fileSystem.remove(file));
    ASSERT_TRUE(fileSystem.writeAtomically(file, "1"));
    EXPECT_TRUE(fileSystem.remove(file));
    ASSERT_TRUE(fileSystem.writeAtomically(directory / "plain", "1"));
    EXPECT_FALSE(fileSystem.createDirectories(directory / "plain" / "sub"));
}

TEST(XdgDataHome, PrefersAnAbsoluteXdgDataHomeThenHome) {
    auto lookup = [](std::map<std::string, std::string> variables) {
        return [variables = std::move(variables)](const char* name) -> const char* {
            auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second.c_str();
        };
    };
    EXPECT_EQ(xdgDataHome(lookup({{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/a"}})), "/data");
    // A relative XDG_DATA_HOME is invalid and ignored.
    EXPECT_EQ(xdgDataHome(lookup({{"XDG_DATA_HOME", "data"}, {"HOME", "/home/a"}})),
              "/home/a/.local/share");
    EXPECT_EQ(xdgDataHome(lookup({{"XDG_DATA_HOME", ""}, {"HOME", "/home/a"}})),
              "/home/a/.local/share");
    EXPECT_EQ(xdgDataHome(lookup({})), std::nullopt);
    EXPECT_EQ(xdgDataHome(lookup({{"HOME", ""}})), std::nullopt);
}

} // namespace
} // namespace orvane::posix
