// The folder-tree walk, natively, over a POSIX stand-in for the system layer:
// which files it lists, in which order, and how links and broken listings
// come out.
#include "scratch.h"
#include "select/collect.h"
#include "sys/files.h"
#include "sys/posix_faults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelzar {
namespace {

using testing::ScratchFolder;

class WalkTest : public ::testing::Test {
  protected:
    void TearDown() override { posix::Reset(); }

    // The listed paths relative to the scratch folder, in walk order.
    std::vector<std::string> Walk(const std::string& relativePattern, bool* incomplete = nullptr) {
        FileList list;
        CollectFiles(ParseFilePattern(scratch.Path() + relativePattern), list);
        if (incomplete != nullptr) {
            *incomplete = list.Incomplete();
        }
        std::vector<std::string> paths;
        for (const CollectedFile& file : list.files) {
            std::string path = file.Path();
            EXPECT_EQ(path.rfind(scratch.Path(), 0), 0u) << path;
            paths.push_back(path.substr(scratch.Path().size()));
        }
        return paths;
    }

    ScratchFolder scratch;
};

struct PatternRow {
    const char* pattern;
    std::vector<std::string> listed; // in walk order; "\" joins what the walk appended
};

class WalkPatterns : public WalkTest, public ::testing::WithParamInterface<PatternRow> {};

TEST_P(WalkPatterns, MatchesEachFolderWithTheWholeLastComponent) {
    for (const char* name : {"src/a.txt", "src/report.v1.txt", "src/report.txt", "src/x.tar.gz",
                             "src/y.gz", "src/noext", "src/sub/b.txt", "src/sub/c.tar.gz",
                             "src/sub/deeper/d.txt", "src/.hidden/h.txt"}) {
        scratch.Write(name, name);
    }
    EXPECT_EQ(Walk(GetParam().pattern), GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, WalkPatterns,
    ::testing::Values(
        PatternRow{"src/*.txt",
                   {"src/a.txt", "src/report.txt", "src/report.v1.txt", "src/sub\\b.txt",
                    "src/sub\\deeper\\d.txt"}},
        PatternRow{"src/report.v1.txt", {"src/report.v1.txt"}},
        PatternRow{"src/*.tar.gz", {"src/x.tar.gz", "src/sub\\c.tar.gz"}},
        PatternRow{"src/noext", {"src/noext"}},
        PatternRow{"src/sub/", {"src/sub/b.txt", "src/sub/c.tar.gz", "src/sub/deeper\\d.txt"}},
        PatternRow{"src/*",
                   {"src/a.txt", "src/noext", "src/report.txt", "src/report.v1.txt", "src/x.tar.gz",
                    "src/y.gz", "src/sub\\b.txt", "src/sub\\c.tar.gz", "src/sub\\deeper\\d.txt"}},
        PatternRow{"missing/*.txt", {}}));

TEST_F(WalkTest, ListsHiddenFilesButEntersNoHiddenFolder) {
    scratch.Write("src/.dotfile.txt", "hidden by its name");
    scratch.Write("src/secret/inside.txt", "in a hidden folder");
    scratch.Write("src/open/visible.txt", "visible");
    ASSERT_TRUE(sys::SetAttributes(scratch.Path() + "src/secret", sys::kAttributeHidden));

    FileList list;
    CollectFiles(ParseFilePattern(scratch.Path() + "src/*.txt"), list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.files[0].name, ".dotfile.txt");
    EXPECT_NE(list.files[0].attributes & sys::kAttributeHidden, 0u)
        << "the walk keeps what the listing saw, so the archive leaves hidden files out";
    EXPECT_EQ(list.files[1].name, "visible.txt");
}

TEST_F(WalkTest, NeverEntersAFolderAlreadyOnItsPath) {
    scratch.Write("src/a.txt", "a");
    scratch.Write("src/loop/b.txt", "b");
    scratch.Write("elsewhere/e.txt", "e");
    scratch.Link("src/loop/back", "..");
    scratch.Link("src/loop/self", ".");
    scratch.Link("src/loop/top", scratch.Path() + "src");
    scratch.Link("src/ext", scratch.Path() + "elsewhere");

    bool incomplete = true;
    EXPECT_EQ(Walk("src/*.txt", &incomplete),
              (std::vector<std::string>{"src/a.txt", "src/ext\\e.txt", "src/loop\\b.txt"}))
        << "each loop walked once; a link leading elsewhere followed";
    EXPECT_FALSE(incomplete) << "a loop not walked again is no gap";
}

TEST_F(WalkTest, AFolderWhoseIdentityCannotBeReadIsAGap) {
    // Without its identity a folder cannot be told from one on the path: it
    // is not walked, and that is reported, never skipped in silence.
    scratch.Write("src/a.txt", "a");
    scratch.Write("src/sub/b.txt", "b");
    scratch.Write("src/sub/deeper/c.txt", "c");
    scratch.Write("src/next/d.txt", "d");
    posix::FailIdentityOf(scratch.Path() + "src/sub");
    bool incomplete = false;
    EXPECT_EQ(Walk("src/*.txt", &incomplete),
              (std::vector<std::string>{"src/a.txt", "src/next\\d.txt"}));
    EXPECT_TRUE(incomplete);
}

TEST_F(WalkTest, TheSameFolderReachedTwiceSideBySideIsWalkedTwice) {
    // Only folders on the current path count: a second link to a sibling
    // is a second path to its files, as the user's tree has it.
    scratch.Write("src/shared/s.txt", "s");
    scratch.Link("src/again", scratch.Path() + "src/shared");
    EXPECT_EQ(Walk("src/*.txt"),
              (std::vector<std::string>{"src/again\\s.txt", "src/shared\\s.txt"}));
}

TEST_F(WalkTest, AListingThatBreaksOffMakesTheWalkIncomplete) {
    for (const char* name : {"src/a.txt", "src/b.txt", "src/c.txt", "src/sub/d.txt"}) {
        scratch.Write(name, name);
    }
    posix::FailListingAfter(scratch.Path() + "src", 2);
    bool incomplete = false;
    std::vector<std::string> listed = Walk("src/*.txt", &incomplete);
    EXPECT_TRUE(incomplete) << "files the listing did not reach must not go unreported";
    EXPECT_EQ(listed, (std::vector<std::string>{"src/a.txt", "src/b.txt"}))
        << "what the listing gave before it broke off is still listed";
}

TEST_F(WalkTest, RecordsReadAsTheListingShowsThem) {
    scratch.Write("src/a.txt", std::string(1234, 'x'));
    FileList list;
    CollectFiles(ParseFilePattern(scratch.Path() + "src/*.txt"), list);
    ASSERT_EQ(list.Count(), 1);
    std::string record = list.Record(0);
    std::string folder = scratch.Path() + "src/";
    EXPECT_EQ(record.rfind(folder + "a.txt\t" + folder + "\t     1,234\t", 0), 0u) << record;
}

} // namespace
} // namespace kelzar
