// The wildcard rules of the directory search, applied to long names only:
// the cases where a plain "*"/"?" matcher and Windows disagree, and those
// where a match through the 8.3 alias must not count.
#include "select/wildcard.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace kelzar {
namespace {

struct MatchCase {
    std::string pattern; // upper-cased, as the caller hands it over
    std::string name;
    bool matches;
    friend std::ostream& operator<<(std::ostream& out, const MatchCase& c) {
        return out << c.pattern << " ~ " << c.name;
    }
};

class WildcardTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(WildcardTest, MatchesAsTheDirectorySearchDoesByLongName) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WildcardTest,
    ::testing::Values(
        // Found through an alias by the search, not by the long name.
        MatchCase{"*.DOC", "REPORT.DOCX", false}, MatchCase{"*.HTM", "PAGE2.HTML", false},
        MatchCase{"*.DOC", "A.DOC", true}, MatchCase{"*~1.DOC", "REPORT.DOCX", false},
        // Every name, dots or none.
        MatchCase{"*", "README", true}, MatchCase{"*.*", "README", true},
        MatchCase{"*.*", "A.B.C", true}, MatchCase{"*.*", ".PROFILE", true},
        // A trailing dot: names without an extension.
        MatchCase{"*.", "README", true}, MatchCase{"*.", "A.TXT", false},
        MatchCase{"README.", "README", true},
        // "*" before a dot stops at the last dot.
        MatchCase{"*.TXT", "A.TXT.BAK", false}, MatchCase{"*.TXT", "A.B.TXT", true},
        MatchCase{"*.TAR.GZ", "X.TAR.GZ", true}, MatchCase{"*.TAR.GZ", "X.TAR.GZ.OLD", false},
        // "?" is one character, or none before a dot or at the end.
        MatchCase{"A?.TXT", "A.TXT", true}, MatchCase{"A?.TXT", "AB.TXT", true},
        MatchCase{"A?.TXT", "ABC.TXT", false}, MatchCase{"FILE?", "FILE", true},
        MatchCase{"FILE?", "FILE1", true}, MatchCase{"FILE?", "FILE12", false},
        MatchCase{"??", "A", true}, MatchCase{"A?C", "A.C", false},
        MatchCase{"DATA.?", "DATA", true}, MatchCase{"DATA.?", "DATA.X", true},
        MatchCase{"DATA.?", "DATA.XY", false},
        // Plain runs and literals.
        MatchCase{"A*B", "AXXB", true}, MatchCase{"A*B", "AXXBC", false},
        MatchCase{"*1", "FILE1", true}, MatchCase{"REPORT.V1.TXT", "REPORT.V1.TXT", true},
        MatchCase{"REPORT.V1.TXT", "REPORT.V2.TXT", false},
        MatchCase{"CAF\xC3\x89.*", "CAF\xC3\x89.TXT", true}, // CAFÉ
        MatchCase{"CAF\xC3\x89.*", "CAFE.TXT", false}));

TEST(WildcardTest, ManyStarsOnALongNameTakeNoBacktracking) {
    // Exponential in a naive matcher; a table here.
    const std::string name(4000, 'A');
    EXPECT_FALSE(MatchesWildcard("*A*A*A*A*A*A*A*A*A*A*A*A*B", name));
    EXPECT_TRUE(MatchesWildcard("*A*A*A*A*A*A*A*A*A*A*A*A*", name));
}

} // namespace
} // namespace kelzar
