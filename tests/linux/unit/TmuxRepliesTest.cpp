#include "backends/linux/TmuxReplies.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace orvane::linuxbackend {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace R = TmuxReplies;

std::string repeated(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += line + "\n";
    }
    return text;
}

// --- list-clients ------------------------------------------------------------------------------

TEST(TmuxReplies, theClientsLineIsFoundByItsProcess) {
    const auto client = R::clientOf("700 120 40 @1 0 on bottom\n"
                                    "701 80 24 @3 1 2 top\n",
                                    701);
    ASSERT_TRUE(client);
    EXPECT_EQ(client->columns, 80);
    EXPECT_EQ(client->rows, 24);
    EXPECT_EQ(client->window, "@3");
    EXPECT_TRUE(client->zoomed);
    EXPECT_EQ(client->statusLines, 2);
    EXPECT_TRUE(client->statusAtTop);

    EXPECT_EQ(R::clientOf("700 120 40 @1 0 off bottom", 700)->statusLines, 0);
    EXPECT_FALSE(R::clientOf("700 120 40 @1 0 on bottom\n", 7000));
    EXPECT_FALSE(R::clientOf("", 700));
}

TEST(TmuxReplies, aHostileClientLineIsNoClient) {
    for (const char* line : {
             "700 99999999999999999999 40 @1 0 on bottom", // huge
             "700 10001 40 @1 0 on bottom",                // wider than any terminal
             "700 -80 24 @1 0 on bottom",                  // negative
             "700 80 0 @1 0 on bottom",                    // no rows
             "700 80 24 @1 0 on",                          // a field missing
             "700 80 24 @1 0 on bottom extra",             // one too many
             "700 80  24 @1 0 on bottom",                  // an empty field
             "700 80 24 1 0 on bottom",                    // not a window
             "700 80 24 @1 0 on middle",                   // no such position
             "700 80 24 @1 2 on bottom",                   // zoomed twice
             "700 80 24 @1 0 9 bottom",                    // more status lines than tmux has
             "700 80 2 @1 0 2 bottom",                     // status lines fill the terminal
             "700 80 24 @1 0 #{status} bottom",            // an older tmux's unknown format
             "700 80 24\t@1 0 on bottom",
             "+700 80 24 @1 0 on bottom",
         }) {
        EXPECT_FALSE(R::clientOf(line, 700)) << line;
    }
    // The first line of the client is its answer, sensible or not.
    EXPECT_FALSE(R::clientOf("700 -1 24 @1 0 on bottom\n700 80 24 @1 0 on bottom\n", 700));
}

TEST(TmuxReplies, onlyTheFirstThousandClientLinesAreRead) {
    const std::string other = "1 80 24 @1 0 on bottom";
    const std::string ours = "700 80 24 @1 0 on bottom";
    EXPECT_TRUE(R::clientOf(repeated(other, 1000) + ours, 700));
    EXPECT_FALSE(R::clientOf(repeated(other, 2000) + ours, 700));
    EXPECT_FALSE(R::clientOf(repeated("garbage", 100'000) + ours, 700));
}

// --- list-panes --------------------------------------------------------------------------------

TEST(TmuxReplies, panesAreReadWithTheirCellsAndWhichIsActive) {
    const auto panes = R::panes("%0 0 0 40 23 0\n%12 41 0 39 23 1\n");
    ASSERT_TRUE(panes);
    EXPECT_THAT(*panes, ElementsAre(MultiplexerPane{"%0", 0, 0, 40, 23, false},
                                    MultiplexerPane{"%12", 41, 0, 39, 23, true}));
}

TEST(TmuxReplies, anyHostilePaneLineSpoilsTheWholeReply) {
    const std::string good = "%0 0 0 40 23 1\n";
    for (const char* line : {
             "%1 41 0 39 23",                      // a field missing
             "%1 41 0 39 23 0 0",                  // one too many
             "%1 -41 0 39 23 0",                   // negative
             "%1 41 0 0 23 0",                     // no width
             "%1 41 0 39 99999999999999999999 0",  // huge
             "%1 41 0 10001 23 0",                 // beyond any terminal
             "1 41 0 39 23 0",                     // not a pane
             "% 41 0 39 23 0", "%1x 41 0 39 23 0", // not a pane either
             "%1 41 0 39 23 yes",
             "", // an empty line
         }) {
        EXPECT_FALSE(R::panes(good + line + "\n")) << line;
    }
    EXPECT_FALSE(R::panes(""));
    EXPECT_FALSE(R::panes(std::string("%0 0 0 40 23 1\0", 15)));
}

TEST(TmuxReplies, thousandsOfPanesAreGarbage) {
    EXPECT_TRUE(R::panes(repeated("%1 0 0 1 1 0", 256)));
    EXPECT_FALSE(R::panes(repeated("%1 0 0 1 1 0", 257)));
    EXPECT_FALSE(R::panes(repeated("%1 0 0 1 1 0", 5000)));
}

// --- What the client shows ---------------------------------------------------------------------

TEST(TmuxReplies, theStatusLineMovesThePanesWhenItIsAtTheTop) {
    const std::vector<MultiplexerPane> panes{{"%0", 0, 0, 40, 23, false},
                                             {"%1", 41, 0, 39, 23, true}};
    R::Client bottom{80, 24, "@1", false, 1, false};
    const auto below = R::layout(bottom, panes);
    ASSERT_TRUE(below);
    EXPECT_EQ(below->columns, 80);
    EXPECT_EQ(below->rows, 24);
    EXPECT_EQ(below->panes, panes);

    R::Client top{80, 26, "@1", false, 3, true};
    const auto above = R::layout(top, panes);
    ASSERT_TRUE(above);
    EXPECT_EQ(above->panes[0].row, 3);
    EXPECT_EQ(above->panes[1].row, 3);
}

TEST(TmuxReplies, aLayoutTheClientCannotShowWhollyIsNone) {
    const R::Client client{80, 24, "@1", false, 1, false};
    // Taller than the rows left by the status line, or wider than the client.
    EXPECT_FALSE(R::layout(client, {{"%0", 0, 0, 80, 24, true}}));
    EXPECT_FALSE(R::layout(client, {{"%0", 0, 0, 40, 23, true}, {"%1", 41, 0, 40, 23, false}}));
    // No active pane, or two.
    EXPECT_FALSE(R::layout(client, {{"%0", 0, 0, 80, 23, false}}));
    EXPECT_FALSE(R::layout(client, {{"%0", 0, 0, 40, 23, true}, {"%1", 41, 0, 39, 23, true}}));
    EXPECT_TRUE(R::layout(client, {{"%0", 0, 0, 80, 23, true}}));
}

TEST(TmuxReplies, aZoomedWindowShowsItsActivePaneOnly) {
    const R::Client zoomed{80, 24, "@1", true, 1, false};
    const auto layout =
        R::layout(zoomed, {{"%0", 0, 0, 80, 23, true}, {"%1", 41, 0, 39, 23, false}});
    ASSERT_TRUE(layout);
    EXPECT_THAT(layout->panes, ElementsAre(MultiplexerPane{"%0", 0, 0, 80, 23, true}));
}

// --- The server's socket -----------------------------------------------------------------------

TEST(TmuxReplies, theSocketIsTheClientsPathElseItsLabelUnderTheUsersDirectory) {
    auto candidates = [](std::vector<std::string> argv, std::string tmpdir = "") {
        return R::socketCandidates(argv, tmpdir, 1000, "/home/u");
    };
    EXPECT_THAT(candidates({"tmux"}), ElementsAre("/tmp/tmux-1000/default"));
    EXPECT_THAT(candidates({"tmux", "new-session", "-L", "other"}),
                ElementsAre("/tmp/tmux-1000/default")); // the command's own options
    EXPECT_THAT(candidates({"tmux", "-L", "work", "attach"}), ElementsAre("/tmp/tmux-1000/work"));
    EXPECT_THAT(candidates({"tmux", "-2uLwork"}), ElementsAre("/tmp/tmux-1000/work"));
    EXPECT_THAT(candidates({"tmux", "-L", "work"}, "/run/user/1000"),
                ElementsAre("/run/user/1000/tmux-1000/work", "/tmp/tmux-1000/work"));
    EXPECT_THAT(candidates({"tmux", "-f", "-S", "-L", "x"}), ElementsAre("/tmp/tmux-1000/x"));
    EXPECT_THAT(candidates({"tmux", "-S", "/run/t.sock", "-L", "x"}), ElementsAre("/run/t.sock"));
    EXPECT_THAT(candidates({"tmux", "-Ssock"}), ElementsAre("/home/u/sock"));
    EXPECT_THAT(candidates({"tmux", "--", "-L", "x"}), ElementsAre("/tmp/tmux-1000/default"));
}

TEST(TmuxReplies, argumentsTmuxWouldRefuseNameNoSocket) {
    for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
             {"tmux", "-L"},
             {"tmux", "-S"},
             {"tmux", "-S", ""},
             {"tmux", "-L", ""},
             {"tmux", "-L", "../../home/victim/sock"},
             {"tmux", "-X"},
         }) {
        EXPECT_THAT(R::socketCandidates(argv, "", 1000, "/"), IsEmpty()) << argv.back();
    }
    // A relative path where the client's working directory could not be read.
    EXPECT_THAT(R::socketCandidates({"tmux", "-S", "sock"}, "", 1000, ""), IsEmpty());
}

TEST(TmuxReplies, paneNamesAreAPercentSignAndANumber) {
    EXPECT_TRUE(R::isPaneID("%0"));
    EXPECT_TRUE(R::isPaneID("%123"));
    for (const char* name : {"", "%", "0", "%-1", "%1;kill-server", "%1 ", "@1", "%9999999999"}) {
        EXPECT_FALSE(R::isPaneID(name)) << name;
    }
}

} // namespace
} // namespace orvane::linuxbackend
