#include "ui/info_dialog_layout.h"
#include "ui/usage_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelzar {
namespace {

struct HeightCase {
    int points;
    int dpi;
    int height;
};

class FontHeightTest : public ::testing::TestWithParam<HeightCase> {};

TEST_P(FontHeightTest, NegativePointsTimesDpiOver72TruncatedTowardZero) {
    const HeightCase& c = GetParam();
    EXPECT_EQ(FontHeightForDpi(c.points, c.dpi), c.height)
        << c.points << " pt at " << c.dpi << " dpi";
}

INSTANTIATE_TEST_SUITE_P(
    Screens, FontHeightTest,
    ::testing::Values(HeightCase{12, 96, -16}, HeightCase{10, 96, -13}, HeightCase{8, 96, -10},
                      HeightCase{12, 120, -20}, HeightCase{10, 120, -16}, HeightCase{8, 120, -13},
                      HeightCase{10, 72, -10}, HeightCase{8, 144, -16}, HeightCase{10, 144, -20}),
    [](const ::testing::TestParamInfo<HeightCase>& row) {
        return std::to_string(row.param.points) + "pt_at_" + std::to_string(row.param.dpi) + "dpi";
    });

TEST(InfoDialogFonts, FacesSizesAndWeights) {
    struct Row {
        LabelFont font;
        std::string face;
        int points;
        int weight;
        bool italic;
        bool underline;
    };
    const Row rows[] = {
        {LabelFont::Heading, "Arial", 12, 800, false, false},
        {LabelFont::Detail, "Arial", 10, 600, false, false},
        {LabelFont::Link, "Arial", 10, 600, true, true},
        {LabelFont::Usage, "System", 8, 100, false, false},
    };
    for (const Row& row : rows) {
        FontSpec spec = GetFontSpec(row.font);
        EXPECT_EQ(spec.face, row.face);
        EXPECT_EQ(spec.points, row.points) << row.face;
        EXPECT_EQ(spec.weight, row.weight) << row.face;
        EXPECT_EQ(spec.italic, row.italic) << row.face;
        EXPECT_EQ(spec.underline, row.underline) << row.face;
    }
}

TEST(InfoDialogColours, AreWin32ColorRefs) {
    EXPECT_EQ(kBlack.ColorRef(), 0x000000u);
    EXPECT_EQ(kWhite.ColorRef(), 0xFFFFFFu);
    EXPECT_EQ(kCyan.ColorRef(), 0xFFFF00u) << "cyan is green plus blue: 0x00BBGGRR";
    EXPECT_EQ(kGreen.ColorRef(), 0x00FF00u);
}

TEST(InfoDialogLabels, TableInCreationOrder) {
    struct Row {
        int id;
        std::string text;
        DialogRect rect;
        Rgb colour;
        LabelFont font;
    };
    const Row rows[] = {
        {201, "Kelzar", {5, 12, 176, 12}, kCyan, LabelFont::Heading},
        {202, "Version 1.0", {5, 24, 146, 8}, kCyan, LabelFont::Detail},
        {203, "Kelzar project", {5, 38, 185, 10}, kWhite, LabelFont::Detail},
        {204, "Made with zlib", {5, 48, 60, 8}, kWhite, LabelFont::DialogFont},
        {205, "and minizip", {5, 56, 60, 8}, kWhite, LabelFont::DialogFont},
        {206, "Email: kelzar@example.org", {5, 64, 130, 8}, kWhite, LabelFont::DialogFont},
        {237, "Author", {150, 50, 130, 10}, kGreen, LabelFont::Link},
        {210, BuildUsageText(), {5, 100, 390, 290}, kWhite, LabelFont::Usage},
    };
    std::vector<LabelSpec> labels = BuildInfoLabels();
    ASSERT_EQ(labels.size(), std::size(rows));
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const LabelSpec& label = labels[i];
        const Row& row = rows[i];
        SCOPED_TRACE("label " + std::to_string(row.id));
        EXPECT_EQ(label.id, row.id);
        EXPECT_EQ(label.text, row.text);
        EXPECT_EQ(label.rect.x, row.rect.x);
        EXPECT_EQ(label.rect.y, row.rect.y);
        EXPECT_EQ(label.rect.width, row.rect.width);
        EXPECT_EQ(label.rect.height, row.rect.height);
        EXPECT_EQ(label.colour, row.colour);
        EXPECT_EQ(label.font, row.font);
        EXPECT_EQ(FindLabel(labels, row.id), &label);
    }
    EXPECT_EQ(FindLabel(labels, 0), nullptr) << "the dialog itself is no label";
    EXPECT_EQ(FindLabel(labels, 2), nullptr) << "IDCANCEL names no label";
}

// The DLGTEMPLATE layout, written out field by field.
std::vector<std::uint8_t> ExpectedTemplate(const std::u16string& caption) {
    std::vector<std::uint8_t> bytes = {
        0xD4, 0x08, 0xC8, 0x00, // style: WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                                // DS_SETFONT | DS_3DLOOK | DS_NOFAILCREATE, not WS_VISIBLE
        0x00, 0x00, 0x00, 0x00, // extended style
        0x00, 0x00,             // no controls
        0x00, 0x00, 0x00, 0x00, // x, y
        0x90, 0x01, 0x18, 0x01, // 400 x 280 dialog units
        0x00, 0x00,             // no menu
        0x00, 0x00,             // standard dialog class
    };
    for (char16_t unit : caption) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xff));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0x00, 0x00, 0x08, 0x00}); // caption end, 8 points
    for (char c : std::string("MS Sans Serif")) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0x00);
    }
    bytes.insert(bytes.end(), {0x00, 0x00});
    return bytes;
}

TEST(InfoDialogTemplate, HiddenCentredDialogWithCaptionAndFont) {
    for (const std::u16string caption : {u"Kelzar", u"", u"Caf\u00e9 \u20ac"}) {
        EXPECT_EQ(BuildInfoDialogTemplate(caption), ExpectedTemplate(caption));
    }
    EXPECT_EQ(BuildInfoDialogTemplate(u"Kelzar").size(), 66u);
}

} // namespace
} // namespace kelzar
