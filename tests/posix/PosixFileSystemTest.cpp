#include "backends/posix/PosixFileSystem.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/resource.h>

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

    std::filesystem::path directory;
    PosixFileSystem fileSystem{std::nullopt};
};

TEST_F(PosixFileSystemTest, AtomicWriteReplacesTheWholeFile) {
    const auto file = directory / "data.json";
    EXPECT_EQ(fileSystem.read(file), std::nullopt);
    ASSERT_TRUE(fileSystem.writeAtomically(file, std::string(100000, 'a')));
    ASSERT_TRUE(fileSystem.writeAtomically(file, "short"));
    EXPECT_EQ(fileSystem.read(file), "short");
    EXPECT_EQ(entryCount(), 1u);
    ASSERT_TRUE(fileSystem.writeAtomically(file, ""));
    EXPECT_EQ(fileSystem.read(file), "");
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
    EXPECT_EQ(fileSystem.read(file), "old");
    EXPECT_EQ(entryCount(), 1u);

    EXPECT_FALSE(fileSystem.writeAtomically(directory / "missing" / "data.json", "x"));
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
