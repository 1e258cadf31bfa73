// Which paths go to the system in the "\\?\" form, so that names ending in a
// dot or a space are the files listed, and which keep the system's reading.
#include "common/verbatim_path.h"

#include "common/utf.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace kelzar {
namespace {

struct VerbatimCase {
    std::string path;
    std::string verbatim; // empty: the path goes as it is
    friend std::ostream& operator<<(std::ostream& out, const VerbatimCase& c) {
        return out << c.path;
    }
};

class VerbatimTest : public ::testing::TestWithParam<VerbatimCase> {};

TEST_P(VerbatimTest, OnlyNamesTheSystemWouldTrimTakeTheVerbatimForm) {
    const VerbatimCase& c = GetParam();
    std::optional<std::u16string> form = VerbatimForm(Utf8ToUtf16(c.path));
    EXPECT_EQ(form ? Utf16ToUtf8(*form) : std::string(), c.verbatim);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, VerbatimTest,
    ::testing::Values(VerbatimCase{R"(d:\src\a.txt)", ""},
                      VerbatimCase{R"(d:\src\a.)", R"(\\?\d:\src\a.)"},
                      VerbatimCase{R"(d:\src\b )", R"(\\?\d:\src\b )"},
                      VerbatimCase{R"(d:\dir.\a.txt)", R"(\\?\d:\dir.\a.txt)"},
                      VerbatimCase{R"(d:\dir \*)", R"(\\?\d:\dir \*)"},
                      VerbatimCase{R"(\\server\share\a.)", R"(\\?\UNC\server\share\a.)"},
                      // A search pattern's dots are the search's to read.
                      VerbatimCase{R"(d:\src\*.)", ""}, VerbatimCase{R"(d:\src\a?.)", ""},
                      // Relative, "/", "." and "..", and the forms already
                      // verbatim or of devices: the system's own reading.
                      VerbatimCase{R"(src\a.)", ""}, VerbatimCase{R"(d:a.)", ""},
                      VerbatimCase{R"(d:/src/a.)", ""}, VerbatimCase{R"(d:\src\.\a.)", ""},
                      VerbatimCase{R"(d:\src\..\a.)", ""}, VerbatimCase{R"(\\?\d:\a.)", ""},
                      VerbatimCase{R"(\\.\d:\a.)", ""}, VerbatimCase{R"(d:\)", ""}));

} // namespace
} // namespace kelzar
