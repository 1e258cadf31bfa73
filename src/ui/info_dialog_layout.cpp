#include "ui/info_dialog_layout.h"

#include "ui/maker.h"
#include "ui/usage_text.h"

#include <algorithm>

namespace kelzar {

FontSpec GetFontSpec(LabelFont font) {
    switch (font) {
    case LabelFont::Heading:
        return {"Arial", 12, 800, false, false}; // FW_EXTRABOLD
    case LabelFont::Detail:
        return {"Arial", 10, 600, false, false}; // FW_SEMIBOLD
    case LabelFont::Link:
        return {"Arial", 10, 600, true, true};
    case LabelFont::Usage:
        return {"System", 8, 100, false, false}; // FW_THIN
    case LabelFont::DialogFont:
        break;
    }
    return {kDialogFontFace, kDialogFontPoints, 0, false, false};
}

int FontHeightForDpi(int points, int pixelsPerInch) {
    // Integer division truncates toward zero, as the height must.
    return -(points * pixelsPerInch) / 72;
}

std::vector<LabelSpec> BuildInfoLabels() {
    return {
        {kHeadingLabelId, "Kelzar", {5, 12, 176, 12}, kCyan, LabelFont::Heading},
        {kVersionLabelId, "Version 1.0", {5, 24, 146, 8}, kCyan, LabelFont::Detail},
        {kMakerLabelId, maker::kName, {5, 38, 185, 10}, kWhite, LabelFont::Detail},
        {kAddress1LabelId, maker::kAddressLine1, {5, 48, 60, 8}, kWhite, LabelFont::DialogFont},
        {kAddress2LabelId, maker::kAddressLine2, {5, 56, 60, 8}, kWhite, LabelFont::DialogFont},
        {kEmailLabelId,
         std::string("Email: ") + maker::kEmail,
         {5, 64, 130, 8},
         kWhite,
         LabelFont::DialogFont},
        {kLinkLabelId, "Author", {150, 50, 130, 10}, kGreen, LabelFont::Link},
        // Taller than the dialog: what lies below its client area is cut off.
        {kUsageLabelId, BuildUsageText(), {5, 100, 390, 290}, kWhite, LabelFont::Usage},
    };
}

const LabelSpec* FindLabel(const std::vector<LabelSpec>& labels, int id) {
    auto found = std::find_if(labels.begin(), labels.end(),
                              [id](const LabelSpec& label) { return label.id == id; });
    return found == labels.end() ? nullptr : &*found;
}

namespace {

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xff));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xff));
}

void PutDword(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutWord(out, value & 0xffff);
    PutWord(out, value >> 16);
}

// A zero-terminated UTF-16 string.
void PutText(std::vector<std::uint8_t>& out, std::u16string_view text) {
    for (char16_t unit : text) {
        PutWord(out, unit);
    }
    PutWord(out, 0);
}

} // namespace

std::vector<std::uint8_t> BuildInfoDialogTemplate(std::u16string_view caption) {
    std::vector<std::uint8_t> out;
    PutDword(out, kDialogStyle);
    PutDword(out, 0); // no extended style
    PutWord(out, 0);  // no controls
    PutWord(out, 0);  // x and y: DS_CENTER places the dialog
    PutWord(out, 0);
    PutWord(out, kDialogWidth);
    PutWord(out, kDialogHeight);
    PutWord(out, 0); // no menu
    PutWord(out, 0); // the system's dialog class
    PutText(out, caption);
    // DS_SETFONT: point size, then the face name.
    PutWord(out, kDialogFontPoints);
    std::string_view face = kDialogFontFace;
    PutText(out, std::u16string(face.begin(), face.end()));
    return out;
}

} // namespace kelzar
