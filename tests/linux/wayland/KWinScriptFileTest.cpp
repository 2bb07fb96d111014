#include "backends/linux/wayland/kwin/KWinScriptFile.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::linuxbackend::test {
namespace {

namespace fs = std::filesystem;

class KWinScriptFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvane-kwin-file-test.XXXXXX";
        ASSERT_TRUE(::mkdtemp(pattern));
        runtime_ = pattern;
    }
    void TearDown() override { fs::remove_all(runtime_); }

    static struct stat statOf(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        return info;
    }

    fs::path runtime_;
};

TEST_F(KWinScriptFileTest, IsOnlyTheUsersInAFolderOfItsOwnAndGoesWithIt) {
    std::string problem;
    auto file = KWinScriptFile::create("var x = 1;\n", runtime_.string(), &problem);
    ASSERT_TRUE(file) << problem;
    EXPECT_EQ(fs::path(file->folder()).parent_path(), runtime_);
    EXPECT_EQ(fs::path(file->path()).parent_path(), fs::path(file->folder()));
    const auto folder = statOf(file->folder());
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(folder.st_uid, ::getuid());
    const auto script = statOf(file->path());
    EXPECT_TRUE(S_ISREG(script.st_mode));
    EXPECT_EQ(script.st_mode & 07777, 0600u);
    std::stringstream text;
    text << std::ifstream(file->path()).rdbuf();
    EXPECT_EQ(text.str(), "var x = 1;\n");

    // Two runs never share a folder.
    auto other = KWinScriptFile::create("", runtime_.string(), &problem);
    ASSERT_TRUE(other);
    EXPECT_NE(other->folder(), file->folder());

    const std::string path = file->path(), where = file->folder();
    file.reset();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(where));
}

TEST_F(KWinScriptFileTest, WithoutAUsableRuntimeFolderAPrivateOneUnderTmp) {
    std::string problem;
    for (const std::string& runtime :
         {std::string(), std::string("relative/path"), (runtime_ / "missing").string()}) {
        auto file = KWinScriptFile::create("x", runtime, &problem);
        ASSERT_TRUE(file) << runtime << ": " << problem;
        EXPECT_EQ(fs::path(file->folder()).parent_path(), fs::path("/tmp")) << runtime;
        EXPECT_EQ(statOf(file->folder()).st_mode & 07777, 0700u);
    }
}

TEST(KWinScriptText, MarksAreFilledWithPlainValuesOnly) {
    const std::string source = "s='@ORVANE_SERVICE@'; k='@ORVANE_KEY@'; p='@ORVANE_PLUGIN@';";
    EXPECT_EQ(kwinScriptFor(source, ":1.42", "00ff", "orvane-bridge-1.42"),
              "s=':1.42'; k='00ff'; p='orvane-bridge-1.42';");
    // What could end the string it stands in is no value.
    EXPECT_FALSE(kwinScriptFor(source, ":1.42'; evil(); '", "00ff", "p"));
    EXPECT_FALSE(kwinScriptFor(source, ":1.42", "00\"ff", "p"));
    EXPECT_FALSE(kwinScriptFor(source, ":1.42", "", "p"));
    EXPECT_FALSE(kwinScriptFor("s='@ORVANE_SERVICE@'; p='@ORVANE_PLUGIN@';", ":1.42", "00ff", "p"));
}

TEST(KWinScriptText, KeysAreLongRandomAndComparedWhole) {
    const auto key = randomKey();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->size(), 64u);
    EXPECT_EQ(key->find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(randomKey(), key);
    EXPECT_TRUE(sameKey(*key, *key));
    EXPECT_FALSE(sameKey(key->substr(0, 63), *key));
    EXPECT_FALSE(sameKey(*key + "0", *key));
    std::string flipped = *key;
    flipped[63] = flipped[63] == '0' ? '1' : '0';
    EXPECT_FALSE(sameKey(flipped, *key));
    EXPECT_FALSE(sameKey("", *key));
}

} // namespace
} // namespace orvane::linuxbackend::test
