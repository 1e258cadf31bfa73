// The usage text the information dialog shows: fifteen CR LF lines, exact
// bytes, no blank or heading line.
#include "ui/usage_text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace kelzar {
namespace {

// Splits at CR LF; the piece after the last CR LF is returned as the last item.
std::vector<std::string> SplitAtCrLf(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

TEST(UsageTextTest, Is632BytesAndTheSameOnEveryCall) {
    const std::string first = BuildUsageText();
    EXPECT_EQ(first.size(), 632u);
    EXPECT_EQ(BuildUsageText(), first) << "the dialog would show a different text each time";
}

TEST(UsageTextTest, HasFifteenLinesEachEndedByCrLf) {
    const std::vector<std::string> pieces = SplitAtCrLf(BuildUsageText());
    ASSERT_EQ(pieces.size(), 16u) << "15 lines and the empty rest after the last CR LF";
    EXPECT_EQ(pieces.back(), "") << "the last line must end with CR LF too";
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        EXPECT_FALSE(pieces[i].empty()) << "blank line at " << i + 1;
    }
}

TEST(UsageTextTest, HoldsNoControlCharacterButTabAndLineEnds) {
    const std::string text = BuildUsageText();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            ASSERT_LT(i + 1, text.size());
            EXPECT_EQ(text[i + 1], '\n') << "lone CR at byte " << i;
        } else if (c == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(text[i - 1], '\r') << "lone LF at byte " << i;
        } else {
            EXPECT_TRUE(c == '\t' || (c >= 32 && c < 127)) << "byte " << i << " is " << int{c};
        }
    }
}

struct UsageLine {
    std::size_t length;
    std::string text;
};

TEST(UsageTextTest, LinesAreExactlyTheseBytes) {
    const std::string spaces18(18, ' ');
    const std::string spaces8(8, ' ');
    const std::vector<UsageLine> expected = {
        {33, "Usage: (space or comma separator)"},
        {38, "\tkelzar.exe ZipfilePath FilesToZip 0|1"},
        {2, "or"},
        {34, "\tkelzar.exe ZipfilePath FilesToZip"},
        {2, "or"},
        {38, "\tkelzar.exe ZipfilePath,FilesToZip,0|1"},
        {2, "or"},
        {34, "\tkelzar.exe ZipfilePath,FilesToZip"},
        {5, "Where"},
        {81,
         "\tZipfilePath - the fully qualified path to the zipfile, like e:\\myfiles\\myzip.zip"},
        {80, "\tFilesToZip - the fully qualified path to the files to zip. Wildcards supported."},
        {56, "\t\tExamples: d:\\Projects\\M16-2008\\*.* will zip all files."},
        {71, "\t\t" + spaces18 + "d:\\Projects\\M16-2008\\*.txt will zip all text files."},
        {71, "\t0|1 - Passing zero or nothing will not store the paths in the zipfile."},
        {55, "\t" + spaces8 + "Passing 1 will store the paths in the zipfile."},
    };
    const std::vector<std::string> lines = SplitAtCrLf(BuildUsageText());
    ASSERT_EQ(lines.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].size(), expected[i].length) << "length of line " << i + 1;
        EXPECT_EQ(lines[i], expected[i].text) << "line " << i + 1;
    }
}

TEST(UsageTextTest, StartsWithTheUsageLine) {
    const std::string text = BuildUsageText();
    EXPECT_EQ(text.rfind("Usage: (space or comma separator)\r\n", 0), 0u)
        << "nothing may stand above the first line";
}

} // namespace
} // namespace kelzar
