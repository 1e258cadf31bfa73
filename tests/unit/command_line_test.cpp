// How the program reads its command line: the argument text, the space form
// turned into the comma form, the fields, the flag as a number, and the
// decision that follows.
#include "driver/command_line.h"

#include "common/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace kelzar {
namespace {

// Shows control characters in test names and failure messages.
std::string Visible(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 32 || c >= 127) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

struct TextCase {
    std::string input;
    std::string expected;
    const char* why;
};

std::ostream& operator<<(std::ostream& os, const TextCase& c) {
    return os << "[" << Visible(c.input) << "] -> [" << Visible(c.expected) << "] (" << c.why
              << ")";
}

// ---------------------------------------------------------------------------
// The argument text: the command line less the program name and the spaces
// that follow it.

class TakeArgumentTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TakeArgumentTextTest, RemovesProgramNameAndFollowingSpaces) {
    const TextCase& c = GetParam();
    EXPECT_EQ(Visible(TakeArgumentText(c.input)), Visible(c.expected))
        << "the archive operation would see other arguments than the caller gave: " << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, TakeArgumentTextTest,
    ::testing::Values(
        TextCase{R"(kelzar.exe d:\a.zip d:\src\*.txt)", R"(d:\a.zip d:\src\*.txt)",
                 "unquoted name ends at the first space"},
        TextCase{R"(C:\Tools\kelzar.exe d:\a.zip,d:\src\*.txt,1)", R"(d:\a.zip,d:\src\*.txt,1)",
                 "unquoted full path"},
        TextCase{R"("C:\Program Files\kelzar.exe" d:\a.zip d:\src\*.txt 1)",
                 R"(d:\a.zip d:\src\*.txt 1)", "quoted name runs to the closing quote"},
        TextCase{R"("C:\Program Files\kelzar.exe"d:\a.zip,d:\b)", R"(d:\a.zip,d:\b)",
                 "quoted name needs no space after it"},
        TextCase{R"("C:\Program Files\kelzar.exe" "d:\my files\a.zip" d:\b)",
                 R"("d:\my files\a.zip" d:\b)", "quotes inside the arguments stay"},
        TextCase{"kelzar.exe     d:\\a.zip,d:\\b", "d:\\a.zip,d:\\b",
                 "every space after the name goes"},
        TextCase{"kelzar.exe d:\\a.zip,d:\\b   ", "d:\\a.zip,d:\\b   ", "trailing spaces stay"},
        TextCase{"kelzar.exe\td:\\a.zip,d:\\b", "\td:\\a.zip,d:\\b",
                 "a tab ends the name and stays"},
        TextCase{"kelzar.exe  \t d:\\a.zip", "\t d:\\a.zip",
                 "spaces after the name go, the tab after them stays"},
        TextCase{"kelzar.exe\nd:\\a.zip", "\nd:\\a.zip", "a line feed ends the name"},
        TextCase{"kelzar.exe\x01rest", "\x01rest", "any character up to code 32 ends the name"},
        TextCase{"k\xe9lzar.exe d:\\a.zip,d:\\b", "d:\\a.zip,d:\\b",
                 "characters above 127 belong to the name"},
        TextCase{"kelzar.exe", "", "name alone"},
        TextCase{"kelzar.exe    ", "", "name and spaces only"},
        TextCase{R"("C:\Program Files\kelzar.exe")", "", "quoted name alone"},
        TextCase{R"("C:\Program Files\kelzar.exe"   )", "", "quoted name and spaces"},
        TextCase{R"("C:\no closing quote\kelzar.exe d:\a.zip d:\b)", "",
                 "without a closing quote the whole line is the name"},
        TextCase{"\"", "", "a lone quote"}, TextCase{"", "", "empty command line"}));

// ---------------------------------------------------------------------------
// Normalisation of the space form into the comma form.

class NormaliseCommandLineTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(NormaliseCommandLineTest, ReplacesSeparatingSpacesWithCommas) {
    const TextCase& c = GetParam();
    const std::string result = NormaliseCommandLine(c.input);
    EXPECT_EQ(result, c.expected) << "arguments would be split differently: " << c.why;
    EXPECT_EQ(result.size(), c.input.size()) << "normalisation must never change the length";
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, NormaliseCommandLineTest,
    ::testing::Values(
        TextCase{R"(d:\a.zip d:\src\*.txt)", R"(d:\a.zip,d:\src\*.txt)", "two drive paths"},
        TextCase{R"(d:\a.zip d:\src\*.txt 1)", R"(d:\a.zip,d:\src\*.txt,1)", "flag 1"},
        TextCase{R"(d:\a.zip d:\src\*.txt 0)", R"(d:\a.zip,d:\src\*.txt,0)", "flag 0"},
        TextCase{R"(d:\my files\a.zip e:\my docs\*.doc 1)",
                 R"(d:\my files\a.zip,e:\my docs\*.doc,1)", "spaces inside paths stay"},
        TextCase{R"(d:\a.zip   d:\src\*.txt)", R"(d:\a.zip  ,d:\src\*.txt)",
                 "only the space right before the drive letter"},
        TextCase{R"(d:\a.zip d:\src\*.txt  1)", R"(d:\a.zip,d:\src\*.txt ,1)",
                 "only the space right before the flag"},
        TextCase{R"(d:\a.zip d:\src\file1)", R"(d:\a.zip,d:\src\file1)",
                 "a final 1 after a letter is no flag"},
        TextCase{R"(d:\a.zip d:\src\x 1)", R"(d:\a.zip,d:\src\x,1)",
                 "a final space and 1 always count as the flag"},
        TextCase{R"(d:\a.zip d:\src\*.txt 1 )", R"(d:\a.zip,d:\src\*.txt 1 )",
                 "a trailing space hides the flag"},
        TextCase{R"(d:\a.zip,d:\src\*.txt 1)", R"(d:\a.zip,d:\src\*.txt 1)",
                 "a comma anywhere disables both rules"},
        TextCase{R"(a.zip *.txt)", R"(a.zip *.txt)", "no drive letter after the space"},
        TextCase{R"(a.zip d:\src\*.txt)", R"(a.zip,d:\src\*.txt)", "relative first path"},
        TextCase{R"(d:\a.zip \\server\share\*.txt)", R"(d:\a.zip \\server\share\*.txt)",
                 "network path has no drive letter"},
        TextCase{R"("d:\a.zip" "d:\src\*.txt")", R"("d:\a.zip" "d:\src\*.txt")",
                 "a quote moves the colon out of reach"}));

INSTANTIATE_TEST_SUITE_P(
    MoreCases, NormaliseCommandLineTest,
    ::testing::Values(TextCase{R"(a.zip *.txt 1)", R"(a.zip *.txt,1)", "the flag rule works alone"},
                      TextCase{R"(d:\a.zip d:\src\*.txt 2)", R"(d:\a.zip,d:\src\*.txt 2)",
                               "only 0 and 1 are split off as a flag"},
                      TextCase{R"(d:\a.zip d:\src\*.txt d:\x 1)", R"(d:\a.zip,d:\src\*.txt,d:\x,1)",
                               "every drive path is split off"},
                      TextCase{R"(d:\a.zip,d:\src\*.txt d:\x 1)", R"(d:\a.zip,d:\src\*.txt d:\x 1)",
                               "mixed forms leave the spaces"},
                      TextCase{"d:\\a.zip\td:\\src\\*.txt", "d:\\a.zip\td:\\src\\*.txt",
                               "a tab is no separator"},
                      TextCase{"d:\\a.zip d:\\src\\*.txt\t1", "d:\\a.zip,d:\\src\\*.txt\t1",
                               "a tab before the flag is no separator"},
                      TextCase{"x d:", "x,d:", "a space with exactly two characters after it"},
                      TextCase{"x :", "x :", "a space with one character after it"},
                      TextCase{"x d", "x d", "too short for a drive"},
                      TextCase{" 1", ",1", "flag alone"}, TextCase{" 0", ",0", "flag 0 alone"},
                      TextCase{"1", "1", "one character"}, TextCase{" ", " ", "one space"},
                      TextCase{"", "", "empty text"}, TextCase{",", ",", "comma alone"}));

// ---------------------------------------------------------------------------
// Fields: every comma counts, empty fields included.

struct SplitCase {
    std::string text;
    std::vector<std::string> fields;
};

std::ostream& operator<<(std::ostream& os, const SplitCase& c) {
    return os << "[" << Visible(c.text) << "] -> " << c.fields.size() << " fields";
}

class SplitFieldsTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitFieldsTest, EveryCommaStartsAField) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(SplitFields(c.text, ','), c.fields);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SplitFieldsTest,
    ::testing::Values(
        SplitCase{"", {""}}, SplitCase{R"(d:\a.zip)", {R"(d:\a.zip)"}},
        SplitCase{R"(d:\a.zip,d:\src\*.txt)", {R"(d:\a.zip)", R"(d:\src\*.txt)"}},
        SplitCase{R"(d:\a.zip,d:\src\*.txt,1)", {R"(d:\a.zip)", R"(d:\src\*.txt)", "1"}},
        SplitCase{",", {"", ""}}, SplitCase{",,", {"", "", ""}},
        SplitCase{R"(d:\a.zip,,1)", {R"(d:\a.zip)", "", "1"}},
        SplitCase{R"(d:\a.zip,d:\src\*.txt,)", {R"(d:\a.zip)", R"(d:\src\*.txt)", ""}},
        SplitCase{R"("d:\a,b.zip",x)", {R"("d:\a)", R"(b.zip")", "x"}},
        SplitCase{" a , b ", {" a ", " b "}}));

// ---------------------------------------------------------------------------
// Trimming removes spaces only.

class TrimSpacesTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TrimSpacesTest, RemovesSpacesAtBothEndsOnly) {
    const TextCase& c = GetParam();
    EXPECT_EQ(Visible(TrimSpaces(c.input)), Visible(c.expected)) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TrimSpacesTest,
    ::testing::Values(TextCase{R"(d:\a.zip  )", R"(d:\a.zip)", "trailing"},
                      TextCase{R"(  d:\src\*.txt)", R"(d:\src\*.txt)", "leading"},
                      TextCase{R"(  d:\my files\a.zip  )", R"(d:\my files\a.zip)",
                               "inner spaces stay"},
                      TextCase{"\td:\\a.zip\t", "\td:\\a.zip\t", "tabs stay"},
                      TextCase{" \t 1 \t ", "\t 1 \t", "spaces outside tabs go"},
                      TextCase{"     ", "", "spaces only"}, TextCase{"", "", "empty"},
                      TextCase{"x", "x", "one character"}));

// ---------------------------------------------------------------------------
// Reading the flag field as a number.

struct NumberCase {
    std::string text;
    double value;
};

std::ostream& operator<<(std::ostream& os, const NumberCase& c) {
    return os << "[" << Visible(c.text) << "] -> " << c.value;
}

class ReadNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumberTest, ReadsTheLeadingNumber) {
    const NumberCase& c = GetParam();
    EXPECT_DOUBLE_EQ(ReadNumber(c.text), c.value);
}

INSTANTIATE_TEST_SUITE_P(Decimal, ReadNumberTest,
                         ::testing::Values(NumberCase{"0", 0}, NumberCase{"1", 1},
                                           NumberCase{"2", 2}, NumberCase{"42", 42},
                                           NumberCase{"007", 7}, NumberCase{"-1", -1},
                                           NumberCase{"+3", 3}, NumberCase{"0.5", 0.5},
                                           NumberCase{".5", 0.5}, NumberCase{"-.25", -0.25},
                                           NumberCase{"5.", 5}, NumberCase{"2.75", 2.75}));

INSTANTIATE_TEST_SUITE_P(Exponent, ReadNumberTest,
                         ::testing::Values(NumberCase{"1E2", 100}, NumberCase{"1e2", 100},
                                           NumberCase{"1D2", 100}, NumberCase{"1d2", 100},
                                           NumberCase{"1.5e1", 15}, NumberCase{"2e+1", 20},
                                           NumberCase{"1d-2", 0.01}, NumberCase{"5E-1", 0.5},
                                           NumberCase{".5D+1", 5}, NumberCase{"1e30", 1e30},
                                           NumberCase{"1e", 1}, NumberCase{"1e+", 1},
                                           NumberCase{"1d-x", 1}, NumberCase{"3E2E1", 300}));

INSTANTIATE_TEST_SUITE_P(
    Radix, ReadNumberTest,
    ::testing::Values(NumberCase{"&H1F", 31}, NumberCase{"&hff", 255}, NumberCase{"&HaB", 171},
                      NumberCase{"&O17", 15}, NumberCase{"&o17", 15}, NumberCase{"&Q17", 15},
                      NumberCase{"&q7", 7}, NumberCase{"&17", 15}, NumberCase{"&B101", 5},
                      NumberCase{"&b11", 3}, NumberCase{"&H0", 0}, NumberCase{"&", 0},
                      NumberCase{"&H", 0}, NumberCase{"&B", 0}, NumberCase{"&X1", 0},
                      NumberCase{"&18", 1}, NumberCase{"&O9", 0}, NumberCase{"&B1012", 5},
                      NumberCase{"&H1G", 1}, NumberCase{"&H10.5", 16}));

INSTANTIATE_TEST_SUITE_P(LeadingWhiteSpace, ReadNumberTest,
                         ::testing::Values(NumberCase{" 7", 7}, NumberCase{"\t7", 7},
                                           NumberCase{"\n7", 7}, NumberCase{" \t\n \t1.5", 1.5},
                                           NumberCase{"\t&H10", 16}, NumberCase{"\r7", 0},
                                           NumberCase{"\v7", 0}));

INSTANTIATE_TEST_SUITE_P(
    StopsAtFirstMisfit, ReadNumberTest,
    ::testing::Values(NumberCase{"1x", 1}, NumberCase{"12abc", 12}, NumberCase{"1 2", 1},
                      NumberCase{"1.2.3", 1.2}, NumberCase{"0x10", 0}, NumberCase{"1,5", 1},
                      NumberCase{"- 1", 0}, NumberCase{"--1", 0}, NumberCase{"+-1", 0},
                      NumberCase{"", 0}, NumberCase{"abc", 0}, NumberCase{".", 0},
                      NumberCase{"-", 0}, NumberCase{"e5", 0}, NumberCase{"D5", 0},
                      NumberCase{"inf", 0}, NumberCase{"nan", 0}, NumberCase{"infinity", 0}));

TEST(ReadNumberTest, HugeExponentIsNotZero) {
    EXPECT_NE(ReadNumber("1e400"), 0.0);
    EXPECT_GT(ReadNumber("1e400"), std::numeric_limits<double>::max() / 2);
}

TEST(ReadNumberTest, TinyExponentReadsAsZeroOrNearly) {
    EXPECT_LT(std::fabs(ReadNumber("1e-400")), 1e-300);
}

// ---------------------------------------------------------------------------
// The flag: rounded to the nearest whole number, halves to the even neighbour.

struct FlagCase {
    std::string field;
    bool withPaths;
};

std::ostream& operator<<(std::ostream& os, const FlagCase& c) {
    return os << "[" << Visible(c.field) << "] -> " << (c.withPaths ? "with paths" : "flat");
}

class FlagAsksForPathsTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(FlagAsksForPathsTest, NonZeroAfterRoundingStoresPaths) {
    const FlagCase& c = GetParam();
    EXPECT_EQ(FlagAsksForPaths(c.field), c.withPaths)
        << (c.withPaths ? "paths the caller asked for would be lost"
                        : "paths would be stored although the caller asked for none");
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FlagAsksForPathsTest,
    ::testing::Values(FlagCase{"0", false}, FlagCase{"1", true}, FlagCase{"2", true},
                      FlagCase{"-1", true}, FlagCase{"0.5", false}, FlagCase{"-0.5", false},
                      FlagCase{"1.5", true}, FlagCase{"2.5", true}, FlagCase{"0.6", true},
                      FlagCase{"-0.6", true}, FlagCase{"0.49", false}, FlagCase{"0.5000001", true},
                      FlagCase{"5e-1", false}, FlagCase{".5D0", false}, FlagCase{"1e30", true},
                      FlagCase{"1e400", true}, FlagCase{"-1e30", true}, FlagCase{"1e-30", false},
                      FlagCase{"", false}, FlagCase{"abc", false}, FlagCase{"&H0", false},
                      FlagCase{"&H1", true}, FlagCase{"&B1", true}, FlagCase{"&", false},
                      FlagCase{"-0", false}, FlagCase{"\t1", true}, FlagCase{"1abc", true},
                      FlagCase{"0abc", false}));

// ---------------------------------------------------------------------------
// The request: dialog, nothing, flat archive or archive with paths.

using Action = Request::Action;

const char* ActionName(Action action) {
    switch (action) {
    case Action::ShowDialog:
        return "dialog";
    case Action::Nothing:
        return "nothing";
    case Action::ZipFlat:
        return "flat";
    case Action::ZipWithPaths:
        return "with paths";
    }
    return "?";
}

struct RequestCase {
    std::string argumentText;
    Action action;
    std::string zipfilePath; // checked for the two archive actions only
    std::string filesToZip;
};

std::ostream& operator<<(std::ostream& os, const RequestCase& c) {
    return os << "[" << Visible(c.argumentText) << "] -> " << ActionName(c.action);
}

class ParseRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(ParseRequestTest, DecidesWhatTheRunDoes) {
    const RequestCase& c = GetParam();
    const Request request = ParseRequest(c.argumentText);
    ASSERT_STREQ(ActionName(request.action), ActionName(c.action));
    if (c.action == Action::ZipFlat || c.action == Action::ZipWithPaths) {
        EXPECT_EQ(Visible(request.zipfilePath), Visible(c.zipfilePath))
            << "the archive would be written somewhere else";
        EXPECT_EQ(Visible(request.filesToZip), Visible(c.filesToZip))
            << "other files would be archived";
    }
}

INSTANTIATE_TEST_SUITE_P(
    DispatchTable, ParseRequestTest,
    ::testing::Values(
        RequestCase{"", Action::ShowDialog, "", ""},
        RequestCase{R"(d:\a.zip)", Action::ShowDialog, "", ""},
        RequestCase{R"(d:\a.zip d:\src\*.txt)", Action::ZipFlat, R"(d:\a.zip)", R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip d:\src\*.txt 1)", Action::ZipWithPaths, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip d:\src\*.txt 0)", Action::ZipFlat, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip,d:\src\*.txt,2)", Action::ZipWithPaths, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip,d:\src\*.txt,abc)", Action::ZipFlat, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip,d:\src\*.txt,)", Action::ZipFlat, R"(d:\a.zip)", R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip,d:\src\*.txt,0.5)", Action::ZipFlat, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip,d:\src\*.txt,0.6)", Action::ZipWithPaths, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip,,1)", Action::Nothing, "", ""},
        RequestCase{",", Action::Nothing, "", ""},
        RequestCase{R"(d:\a.zip,d:\src\*.txt,1,x)", Action::ShowDialog, "", ""},
        RequestCase{R"(d:\a.zip  ,  d:\src\*.txt)", Action::ZipFlat, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"}));

INSTANTIATE_TEST_SUITE_P(
    SpaceForm, ParseRequestTest,
    ::testing::Values(
        RequestCase{R"(d:\my files\a.zip e:\my docs\*.doc 1)", Action::ZipWithPaths,
                    R"(d:\my files\a.zip)", R"(e:\my docs\*.doc)"},
        RequestCase{R"(d:\a.zip   d:\src\*.txt)", Action::ZipFlat, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip d:\src\*.txt  1)", Action::ZipWithPaths, R"(d:\a.zip)",
                    R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip d:\src\file1)", Action::ZipFlat, R"(d:\a.zip)", R"(d:\src\file1)"},
        RequestCase{R"(d:\a.zip d:\src\*.txt 1 )", Action::ZipFlat, R"(d:\a.zip)",
                    R"(d:\src\*.txt 1)"},
        RequestCase{R"(d:\a.zip,d:\src\*.txt 1)", Action::ZipFlat, R"(d:\a.zip)",
                    R"(d:\src\*.txt 1)"},
        RequestCase{R"(d:\a.zip d:\src\*.txt 2)", Action::ZipFlat, R"(d:\a.zip)",
                    R"(d:\src\*.txt 2)"},
        RequestCase{R"(a.zip *.txt)", Action::ShowDialog, "", ""},
        RequestCase{R"(a.zip *.txt 1)", Action::ZipFlat, R"(a.zip *.txt)", "1"},
        RequestCase{R"(a.zip d:\src\*.txt)", Action::ZipFlat, "a.zip", R"(d:\src\*.txt)"},
        RequestCase{R"(d:\a.zip \\server\share\*.txt)", Action::ShowDialog, "", ""},
        RequestCase{R"("d:\a.zip" "d:\src\*.txt")", Action::ShowDialog, "", ""}));

INSTANTIATE_TEST_SUITE_P(
    CommaForm, ParseRequestTest,
    ::testing::Values(RequestCase{R"("d:\my files\a.zip","d:\src\*.txt")", Action::ZipFlat,
                                  R"("d:\my files\a.zip")", R"("d:\src\*.txt")"},
                      RequestCase{R"(d:\a.zip,d:\src\*.txt, 1 )", Action::ZipWithPaths,
                                  R"(d:\a.zip)", R"(d:\src\*.txt)"},
                      RequestCase{"d:\\a.zip,d:\\src\\*.txt,\t1", Action::ZipWithPaths, "d:\\a.zip",
                                  "d:\\src\\*.txt"},
                      RequestCase{"\td:\\a.zip,d:\\src\\*.txt", Action::ZipFlat, "\td:\\a.zip",
                                  "d:\\src\\*.txt"},
                      RequestCase{R"(d:\a.zip,d:\src\*.txt,-0.5)", Action::ZipFlat, R"(d:\a.zip)",
                                  R"(d:\src\*.txt)"},
                      RequestCase{R"(d:\a.zip,d:\src\*.txt,1.5)", Action::ZipWithPaths,
                                  R"(d:\a.zip)", R"(d:\src\*.txt)"},
                      RequestCase{R"(d:\a.zip,d:\src\*.txt,2.5)", Action::ZipWithPaths,
                                  R"(d:\a.zip)", R"(d:\src\*.txt)"},
                      RequestCase{R"(d:\a.zip,d:\src\*.txt,1e30)", Action::ZipWithPaths,
                                  R"(d:\a.zip)", R"(d:\src\*.txt)"},
                      RequestCase{R"(d:\a.zip,d:\src\*.txt,&H0)", Action::ZipFlat, R"(d:\a.zip)",
                                  R"(d:\src\*.txt)"},
                      RequestCase{R"(d:\a.zip,d:\src\*.txt,&B1)", Action::ZipWithPaths,
                                  R"(d:\a.zip)", R"(d:\src\*.txt)"},
                      RequestCase{R"(  ,d:\src\*.txt)", Action::Nothing, "", ""},
                      RequestCase{R"(d:\a.zip,   ,0)", Action::Nothing, "", ""},
                      RequestCase{", ,", Action::Nothing, "", ""},
                      RequestCase{",,,", Action::ShowDialog, "", ""},
                      RequestCase{"\t", Action::ShowDialog, "", ""},
                      RequestCase{"\t,\t", Action::ZipFlat, "\t", "\t"}));

} // namespace
} // namespace kelzar
