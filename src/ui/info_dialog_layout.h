// What the information dialog looks like, as plain data: its frame, its
// labels with their identifiers, rectangles, colours and fonts, and the
// in-memory dialog template the system builds the window from. The window
// code in ui/info_dialog.cpp only carries these out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelzar {

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    // The value Win32 takes as a COLORREF: 0x00BBGGRR.
    constexpr std::uint32_t ColorRef() const {
        return red | (static_cast<std::uint32_t>(green) << 8) |
               (static_cast<std::uint32_t>(blue) << 16);
    }
    friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kCyan{0, 255, 255};
inline constexpr Rgb kGreen{0, 255, 0};

// The background of the dialog and of every label.
inline constexpr Rgb kDialogBackground = kBlack;

// Fonts the dialog creates when it initialises, in creation order; labels
// without one of them keep the dialog's own font.
enum class LabelFont { Heading, Detail, Link, Usage, DialogFont };
inline constexpr LabelFont kCreatedFonts[] = {LabelFont::Heading, LabelFont::Detail,
                                              LabelFont::Link, LabelFont::Usage};

struct FontSpec {
    const char* face;
    int points;
    int weight;
    bool italic;
    bool underline;
};

// Face, size and weight of one of the created fonts.
FontSpec GetFontSpec(LabelFont font);

// A font's height in logical units for a screen of the given vertical
// resolution: -(points * dpi) / 72, truncated toward zero.
int FontHeightForDpi(int points, int pixelsPerInch);

// A rectangle in dialog units.
struct DialogRect {
    int x;
    int y;
    int width;
    int height;
};

struct LabelSpec {
    int id;
    std::string text;
    DialogRect rect;
    Rgb colour;
    LabelFont font;
};

inline constexpr int kHeadingLabelId = 201;
inline constexpr int kVersionLabelId = 202;
inline constexpr int kMakerLabelId = 203;
inline constexpr int kAddress1LabelId = 204;
inline constexpr int kAddress2LabelId = 205;
inline constexpr int kEmailLabelId = 206;
inline constexpr int kLinkLabelId = 237;
inline constexpr int kUsageLabelId = 210;

// Every label is a plain left-aligned, word-wrapping static text that takes
// no mouse input (WS_CHILD | WS_VISIBLE | SS_LEFT), so pointer movement and
// presses over a label reach the dialog itself.
inline constexpr std::uint32_t kLabelStyle = 0x50000000;
inline constexpr const char* kLabelClass = "STATIC";

// The labels in the order they are created, texts filled in.
std::vector<LabelSpec> BuildInfoLabels();

// The label with that identifier; null for any other identifier.
const LabelSpec* FindLabel(const std::vector<LabelSpec>& labels, int id);

// The dialog window: caption bar with system menu and close box, modal frame,
// centred, created hidden (no WS_VISIBLE); 400 x 280 dialog units of client
// area in 8-point "MS Sans Serif".
inline constexpr std::uint32_t kDialogStyle = 0x00C00000    // WS_CAPTION
                                              | 0x00080000  // WS_SYSMENU
                                              | 0x00000080  // DS_MODALFRAME
                                              | 0x00000800  // DS_CENTER
                                              | 0x00000040  // DS_SETFONT
                                              | 0x00000004  // DS_3DLOOK
                                              | 0x00000010; // DS_NOFAILCREATE
inline constexpr int kDialogWidth = 400;
inline constexpr int kDialogHeight = 280;
inline constexpr const char* kDialogFontFace = "MS Sans Serif";
inline constexpr int kDialogFontPoints = 8;

// The bytes of a DLGTEMPLATE for the dialog with the given caption and no
// controls (the labels are added once the window exists), little-endian, as
// CreateDialogIndirectParam reads it. Texts in a template are UTF-16.
std::vector<std::uint8_t> BuildInfoDialogTemplate(std::u16string_view caption);

} // namespace kelzar
