// Path helpers with Windows inputs: folder, name, base name and extension of
// a pattern, the folder a listing searches, stored entry names, and the size
// field of a listing record.
#include "select/path.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string>

namespace kelzar {
namespace {

struct PathCase {
    const char* helper;
    std::function<std::string(std::string_view)> function;
    std::string input;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const PathCase& c) {
    return os << c.helper << "(" << c.input << ") -> [" << c.expected << "]";
}

class PathHelperTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathHelperTest, SplitsTheTextAsAWindowsPath) {
    const PathCase& c = GetParam();
    EXPECT_EQ(c.function(c.input), c.expected) << c.helper << " of " << c.input;
}

PathCase Directory(std::string in, std::string out) {
    return {"GetDirectoryPart", GetDirectoryPart, std::move(in), std::move(out)};
}
PathCase FileName(std::string in, std::string out) {
    return {"GetFileNamePart", GetFileNamePart, std::move(in), std::move(out)};
}
PathCase BaseName(std::string in, std::string out) {
    return {"GetBaseName", GetBaseName, std::move(in), std::move(out)};
}
PathCase Extension(std::string in, std::string out) {
    return {"GetExtension", GetExtension, std::move(in), std::move(out)};
}
PathCase Backslash(std::string in, std::string out) {
    return {"AddTrailingBackslash", AddTrailingBackslash, std::move(in), std::move(out)};
}
PathCase ListingFolder(std::string in, std::string out) {
    return {"GetListingFolder", GetListingFolder, std::move(in), std::move(out)};
}
PathCase EntryName(std::string in, std::string out) {
    return {"EntryNameOfPath", EntryNameOfPath, std::move(in), std::move(out)};
}

// Only the backslash separates; slashes and drive colons do not.
INSTANTIATE_TEST_SUITE_P(
    GetDirectoryPart, PathHelperTest,
    ::testing::Values(
        Directory(R"(d:\src\*.txt)", R"(d:\src\)"), Directory(R"(d:\src\)", R"(d:\src\)"),
        Directory(R"(d:\)", R"(d:\)"), Directory(R"(d:a.zip)", ""), Directory("a.zip", ""),
        Directory("d:/src/a.txt", ""), Directory(R"(\\server\share\a.txt)", R"(\\server\share\)"),
        Directory(R"(d:\src/sub\a.txt)", R"(d:\src/sub\)"),
        Directory(R"(d:\src\sub/a.txt)", R"(d:\src\)"), Directory(R"(src\*.txt)", R"(src\)"),
        Directory(R"(\)", R"(\)"), Directory("", "")));

// Backslash and slash both separate; whichever stands later wins.
INSTANTIATE_TEST_SUITE_P(GetFileNamePart, PathHelperTest,
                         ::testing::Values(FileName(R"(d:\src\a.txt)", "a.txt"),
                                           FileName("d:/src/a.txt", "a.txt"),
                                           FileName(R"(d:\src/sub\a.txt)", "a.txt"),
                                           FileName(R"(d:\src\sub/a.txt)", "a.txt"),
                                           FileName(R"(d:\src\)", ""), FileName("d:/src/", ""),
                                           FileName("d:a.txt", "d:a.txt"),
                                           FileName("a.txt", "a.txt"), FileName("", "")));

// Up to the first dot of the name; dots in folder names do not count.
INSTANTIATE_TEST_SUITE_P(
    GetBaseName, PathHelperTest,
    ::testing::Values(BaseName(R"(d:\src\*.txt)", "*"), BaseName(R"(d:\src\*.*)", "*"),
                      BaseName(R"(d:\src\a.b.c)", "a"), BaseName(R"(d:\src.d\readme)", "readme"),
                      BaseName(R"(d:\src\.profile)", ""), BaseName(R"(d:\src\name.)", "name"),
                      BaseName("d:/src.d/a.txt", "a"), BaseName(R"(d:\src\)", ""),
                      BaseName("", "")));

// After the last dot of the name; dots in folder names do not count.
INSTANTIATE_TEST_SUITE_P(
    GetExtension, PathHelperTest,
    ::testing::Values(Extension(R"(d:\src\*.txt)", "txt"), Extension(R"(d:\src\*.*)", "*"),
                      Extension(R"(d:\src\a.b.c)", "c"), Extension(R"(d:\src\name.)", ""),
                      Extension(R"(d:\src.d\readme)", ""),
                      Extension(R"(d:\src\.profile)", "profile"), Extension("d:/src.d/readme", ""),
                      Extension(R"(d:\src\)", ""), Extension("", "")));

// Only a trailing backslash counts as already there.
INSTANTIATE_TEST_SUITE_P(AddTrailingBackslash, PathHelperTest,
                         ::testing::Values(Backslash(R"(d:\src)", R"(d:\src\)"),
                                           Backslash(R"(d:\src\)", R"(d:\src\)"),
                                           Backslash("d:", R"(d:\)"),
                                           Backslash("d:/src/", R"(d:/src/\)"), Backslash("", "")));

// The folder a listing searches, so that folder + yielded name opens the
// file the listing found, also for drive-relative and slash patterns.
INSTANTIATE_TEST_SUITE_P(
    GetListingFolder, PathHelperTest,
    ::testing::Values(ListingFolder(R"(d:\src\*.txt)", R"(d:\src\)"),
                      ListingFolder("d:*.txt", "d:"), ListingFolder("d:/src/*.txt", "d:/src/"),
                      ListingFolder(R"(d:\src/sub\*.txt)", R"(d:\src/sub\)"),
                      ListingFolder(R"(d:\src\sub/*.txt)", R"(d:\src\sub/)"),
                      ListingFolder(R"(\\server\share\*.txt)", R"(\\server\share\)"),
                      ListingFolder(R"(d:\data\)", R"(d:\data\)"),
                      ListingFolder(R"(src\a.txt)", R"(src\)"), ListingFolder("*.txt", ""),
                      ListingFolder("", "")));

// Stored entry names for collected files: the full path less its root, with
// no "." or ".." left, whichever form of root it had.
INSTANTIATE_TEST_SUITE_P(EntryNameOfPath, PathHelperTest,
                         ::testing::Values(EntryName(R"(d:\src\a.txt)", R"(src\a.txt)"),
                                           EntryName(R"(d:\src\sub\b.txt)", R"(src\sub\b.txt)"),
                                           EntryName(R"(D:\Docs\Sub\a.doc)", R"(Docs\Sub\a.doc)"),
                                           EntryName(R"(\src\a.txt)", R"(src\a.txt)"),
                                           EntryName(R"(\\srv\share\d\a.txt)", R"(d\a.txt)"),
                                           EntryName(R"(\\srv\share)", ""),
                                           EntryName(R"(\\?\d:\src\a.txt)", R"(src\a.txt)"),
                                           EntryName(R"(\\?\UNC\srv\share\d\a.txt)", R"(d\a.txt)"),
                                           EntryName(R"(\\?\unc\srv\share\a.txt)", "a.txt"),
                                           EntryName(R"(\\.\d:\src\a.txt)", R"(src\a.txt)"),
                                           EntryName(R"(d:\proj\..\src\a.txt)", R"(src\a.txt)"),
                                           EntryName(R"(d:\src\.\sub\.\b.txt)", R"(src\sub\b.txt)"),
                                           EntryName(R"(d:\..\..\a.txt)", "a.txt"),
                                           EntryName(R"(..\src\a.txt)", R"(src\a.txt)"),
                                           EntryName(R"(.\a.txt)", "a.txt"),
                                           EntryName("d:a.txt", "a.txt"),
                                           EntryName(R"(d:\\\a.txt)", "a.txt"),
                                           EntryName(R"(d:\src\\b.txt)", R"(src\b.txt)"),
                                           EntryName(R"(d:\a..b\c.txt)", R"(a..b\c.txt)"),
                                           EntryName(R"(d:\)", "")));

struct WildcardCase {
    std::string path;
    bool wildcards;
};

std::ostream& operator<<(std::ostream& os, const WildcardCase& c) {
    return os << c.path << " -> " << c.wildcards;
}

class HasWildcardsTest : public ::testing::TestWithParam<WildcardCase> {};

TEST_P(HasWildcardsTest, FindsStarAndQuestionMark) {
    EXPECT_EQ(HasWildcards(GetParam().path), GetParam().wildcards);
}

INSTANTIATE_TEST_SUITE_P(Paths, HasWildcardsTest,
                         ::testing::Values(WildcardCase{R"(d:\out\*.zip)", true},
                                           WildcardCase{R"(d:\out\a?.zip)", true},
                                           WildcardCase{R"(d:\*\a.zip)", true},
                                           WildcardCase{R"(d:\out\a.zip)", false},
                                           WildcardCase{"", false}));

// ---------------------------------------------------------------------------
// The size field of a listing record: nine digit places, padded with spaces,
// groups of three separated by commas on top.

struct SizeCase {
    std::uint64_t size;
    std::string field;
};

std::ostream& operator<<(std::ostream& os, const SizeCase& c) {
    return os << c.size << " -> [" << c.field << "]";
}

class FormatSizeFieldTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FormatSizeFieldTest, PadsToNineDigitPlacesAndGroupsByThree) {
    EXPECT_EQ(FormatSizeField(GetParam().size), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FormatSizeFieldTest,
    ::testing::Values(
        SizeCase{0, "        0"}, SizeCase{7, "        7"}, SizeCase{999, "      999"},
        SizeCase{1000, "     1,000"}, SizeCase{1234, "     1,234"}, SizeCase{999999, "   999,999"},
        SizeCase{1234567, "  1,234,567"}, SizeCase{12345678, " 12,345,678"},
        SizeCase{123456789, "123,456,789"}, SizeCase{1000000000, "1,000,000,000"},
        SizeCase{1234567890, "1,234,567,890"}, SizeCase{4294967296ULL, "4,294,967,296"},
        SizeCase{std::numeric_limits<std::uint64_t>::max(), "18,446,744,073,709,551,615"}));

} // namespace
} // namespace kelzar
