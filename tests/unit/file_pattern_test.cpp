// FilesToZip as both modes read it: the folder the listing searches, as
// written, and the whole last component as the name pattern.
#include "select/file_pattern.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace kelzar {
namespace {

struct PatternCase {
    std::string filesToZip;
    std::string folder;
    std::string name;
    friend std::ostream& operator<<(std::ostream& out, const PatternCase& c) {
        return out << c.filesToZip;
    }
};

class FilePatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(FilePatternTest, SplitsAtTheLastSeparatorOrColon) {
    const PatternCase& c = GetParam();
    FilePattern pattern = ParseFilePattern(c.filesToZip);
    EXPECT_EQ(pattern.folder, c.folder) << "the folder the listing would search";
    EXPECT_EQ(pattern.name, c.name) << "the names the listing would match";
    EXPECT_EQ(pattern.Search(), c.folder + c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FilePatternTest,
    ::testing::Values(PatternCase{R"(d:\src\*.txt)", R"(d:\src\)", "*.txt"},
                      PatternCase{"d:/src/*.txt", "d:/src/", "*.txt"},
                      PatternCase{R"(d:\src/sub\*.txt)", R"(d:\src/sub\)", "*.txt"},
                      PatternCase{"d:*.txt", "d:", "*.txt"},
                      // Dots are the name's own, not a split into base name and extension.
                      PatternCase{R"(d:\src\report.v1.txt)", R"(d:\src\)", "report.v1.txt"},
                      PatternCase{R"(d:\src\*.tar.gz)", R"(d:\src\)", "*.tar.gz"},
                      PatternCase{R"(d:\src\*)", R"(d:\src\)", "*"},
                      PatternCase{R"(d:\src\readme)", R"(d:\src\)", "readme"},
                      // A trailing separator or colon: every file of the folder.
                      PatternCase{R"(d:\src\)", R"(d:\src\)", "*.*"},
                      PatternCase{"d:/src/", "d:/src/", "*.*"}, PatternCase{"d:", "d:", "*.*"},
                      // A folder named without a trailing separator is a name in its parent.
                      PatternCase{R"(d:\data)", R"(d:\)", "data"},
                      PatternCase{"*.txt", "", "*.txt"},
                      PatternCase{R"(src\*.txt)", R"(src\)", "*.txt"},
                      PatternCase{R"(\\server\share\*.txt)", R"(\\server\share\)", "*.txt"},
                      // UTF-8 names: no byte of a multi-byte character is ever a separator.
                      PatternCase{"d:\\\xE8\xA1\xA8\\\xE8\xA1\xA8*.txt", "d:\\\xE8\xA1\xA8\\",
                                  "\xE8\xA1\xA8*.txt"},
                      PatternCase{"d:\\src\\\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt",
                                  "d:\\src\\", "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt"}));

} // namespace
} // namespace kelzar
