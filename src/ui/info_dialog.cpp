// The dialog's window procedure and modal loop. A user interface is Win32
// through and through, so this file calls it directly; it owns its GDI
// objects through the handle types of ui/gdi_handle.h.
#include "ui/info_dialog.h"

#include "common/utf.h"
#include "ui/gdi_handle.h"
#include "ui/info_dialog_layout.h"
#include "ui/maker.h"

#include <windows.h>

#include <shellapi.h>

#include <array>
#include <cstring>
#include <vector>

namespace kelzar {

namespace {

// Kept for the whole run, across openings of the dialog: a press acts on the
// label the pointer was last found over, and before the first pointer
// movement of the run that is no label at all.
struct RunState {
    HCURSOR hand = nullptr;
    HCURSOR arrow = nullptr;
    int hoverId = 0;
};
RunState g_run;

// What one opening of the dialog owns. The fonts are created when the dialog
// initialises and deleted when its window is destroyed; the background brush
// lives as long as ShowInfoDialog, which outlasts the window.
struct OpenDialog {
    std::vector<LabelSpec> labels;
    HBRUSH background = nullptr;
    std::array<sys::UniqueFont, std::size(kCreatedFonts)> fonts;
};
OpenDialog* g_open = nullptr;

// The screen's device context, released again when its owner goes away:
// GetDC hands out one of a few shared contexts.
class ScreenContext {
  public:
    ScreenContext() : context_(GetDC(nullptr)) {}
    ~ScreenContext() {
        if (context_ != nullptr) {
            ReleaseDC(nullptr, context_);
        }
    }
    ScreenContext(const ScreenContext&) = delete;
    ScreenContext& operator=(const ScreenContext&) = delete;
    HDC Get() const { return context_; }

  private:
    HDC context_;
};

// The dialog's own dots per inch: the program declares itself aware of each
// monitor's, so the fonts must follow the monitor the dialog is on. Before
// Windows 10 the screen's one value is all there is.
int DpiOf(HWND dialog) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        if (UINT dpi = getDpiForWindow(dialog)) {
            return static_cast<int>(dpi);
        }
    }
    const ScreenContext screen;
    return screen.Get() != nullptr ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
}

sys::UniqueFont CreateLabelFont(LabelFont font, int pixelsPerInch) {
    FontSpec spec = GetFontSpec(font);
    LOGFONTA description{}; // everything not set here stays at its default, 0
    description.lfHeight = FontHeightForDpi(spec.points, pixelsPerInch);
    description.lfWeight = spec.weight;
    description.lfItalic = spec.italic ? TRUE : FALSE;
    description.lfUnderline = spec.underline ? TRUE : FALSE;
    description.lfCharSet = ANSI_CHARSET;
    std::strncpy(description.lfFaceName, spec.face, LF_FACESIZE - 1);
    return sys::UniqueFont(CreateFontIndirectA(&description));
}

// Labels are ordinary child windows, which start with the system font; the
// ones that get no font of their own show the dialog's.
void AddLabels(HWND dialog, const std::vector<LabelSpec>& labels) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    auto dialogFont = static_cast<WPARAM>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    for (const LabelSpec& label : labels) {
        RECT area{label.rect.x, label.rect.y, label.rect.x + label.rect.width,
                  label.rect.y + label.rect.height};
        MapDialogRect(dialog, &area);
        HWND window =
            CreateWindowExA(0, kLabelClass, label.text.c_str(), kLabelStyle, area.left, area.top,
                            area.right - area.left, area.bottom - area.top, dialog,
                            reinterpret_cast<HMENU>(INT_PTR{label.id}), instance, nullptr);
        if (window != nullptr) {
            SendMessageA(window, WM_SETFONT, dialogFont, FALSE);
        }
    }
}

// Gives the labels their fonts at the given dots per inch. The fonts they
// had are deleted only once no label uses them any more; a label whose font
// could not be created keeps the one it has.
void ApplyFonts(HWND dialog, int pixelsPerInch) {
    std::array<sys::UniqueFont, std::size(kCreatedFonts)> fonts;
    for (std::size_t i = 0; i < std::size(kCreatedFonts); ++i) {
        fonts[i] = CreateLabelFont(kCreatedFonts[i], pixelsPerInch);
    }
    for (const LabelSpec& label : g_open->labels) {
        for (std::size_t i = 0; i < std::size(kCreatedFonts); ++i) {
            if (label.font == kCreatedFonts[i] && fonts[i]) {
                SendDlgItemMessageA(dialog, label.id, WM_SETFONT,
                                    reinterpret_cast<WPARAM>(fonts[i].Get()), TRUE);
            }
        }
    }
    for (std::size_t i = 0; i < std::size(kCreatedFonts); ++i) {
        if (fonts[i]) {
            g_open->fonts[i] = std::move(fonts[i]);
        }
    }
}

// Places the labels by their dialog units, which follow the dialog's font.
void PlaceLabels(HWND dialog) {
    for (const LabelSpec& label : g_open->labels) {
        RECT area{label.rect.x, label.rect.y, label.rect.x + label.rect.width,
                  label.rect.y + label.rect.height};
        MapDialogRect(dialog, &area);
        SetWindowPos(GetDlgItem(dialog, label.id), nullptr, area.left, area.top,
                     area.right - area.left, area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Initialise(HWND dialog) {
    // The program's resources carry no "PROGRAM" icon today; the caption then
    // keeps the platform's default.
    if (HICON icon = LoadIconA(GetModuleHandleA(nullptr), "PROGRAM")) {
        SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    }
    ApplyFonts(dialog, DpiOf(dialog));
    g_run.hand = LoadCursorA(nullptr, IDC_HAND);
    g_run.arrow = LoadCursorA(nullptr, IDC_ARROW);
}

// Moved to a monitor of other dots per inch: the system proposes the new
// window rectangle; the labels get fonts and places for the new density.
void OnDpiChanged(HWND dialog, int pixelsPerInch, const RECT& proposed) {
    SetWindowPos(dialog, nullptr, proposed.left, proposed.top, proposed.right - proposed.left,
                 proposed.bottom - proposed.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyFonts(dialog, pixelsPerInch);
    PlaceLabels(dialog);
}

void OpenMakerWebSite(HWND dialog) {
    ShellExecuteA(dialog, "open", maker::kWebSite, nullptr, nullptr, SW_SHOWNORMAL);
}

INT_PTR CALLBACK InfoDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        // The system sends one while it creates the window, before the labels
        // exist; ShowInfoDialog sends the one that counts, naming the dialog
        // itself, once they do.
        if (g_open != nullptr && reinterpret_cast<HWND>(wParam) == dialog) {
            Initialise(dialog);
        }
        return FALSE;

    case WM_CTLCOLORDLG:
        if (g_open != nullptr && g_open->background != nullptr) {
            return reinterpret_cast<INT_PTR>(g_open->background);
        }
        return FALSE;

    case WM_CTLCOLORSTATIC: {
        const LabelSpec* label =
            g_open != nullptr
                ? FindLabel(g_open->labels, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)))
                : nullptr;
        if (label == nullptr || g_open->background == nullptr) {
            return FALSE;
        }
        auto context = reinterpret_cast<HDC>(wParam);
        SetTextColor(context, label->colour.ColorRef());
        SetBkColor(context, kDialogBackground.ColorRef());
        return reinterpret_cast<INT_PTR>(g_open->background);
    }

    case WM_MOUSEMOVE: {
        POINT point{LOWORD(lParam), HIWORD(lParam)};
        HWND found = ChildWindowFromPointEx(dialog, point, CWP_SKIPINVISIBLE | CWP_SKIPDISABLED);
        if (found != nullptr) {
            g_run.hoverId = found == dialog ? 0 : GetDlgCtrlID(found);
        }
        SetCursor(g_run.hoverId == kLinkLabelId ? g_run.hand : g_run.arrow);
        return FALSE;
    }

    case WM_LBUTTONDOWN:
        if (g_run.hoverId == kLinkLabelId) {
            OpenMakerWebSite(dialog);
        }
        return FALSE;

    case WM_DPICHANGED:
        if (g_open != nullptr) {
            OnDpiChanged(dialog, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        }
        return TRUE;

    case WM_CLOSE: {
        // Only the close command ends the dialog (close box, system menu,
        // Alt+F4), so it is carried out here: the dialog manager would turn
        // it into an IDCANCEL command, which, like the ones Esc and Enter
        // produce (IDCANCEL, IDOK), finds no control and is left alone.
        DestroyWindow(dialog);
        return TRUE;
    }

    case WM_DESTROY:
        if (g_open != nullptr) {
            for (sys::UniqueFont& font : g_open->fonts) {
                font.Reset();
            }
        }
        return FALSE;
    }
    return FALSE;
}

void RunModalLoop(HWND dialog) {
    MSG message;
    while (IsWindow(dialog)) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            // Leave the quit request for the caller's own loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (got == -1) {
            break;
        }
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

} // namespace

void ShowInfoDialog(const std::string& caption) {
    std::vector<std::uint8_t> dialogTemplate = BuildInfoDialogTemplate(Utf8ToUtf16(caption));
    sys::UniqueBrush background(CreateSolidBrush(kDialogBackground.ColorRef()));
    OpenDialog open{BuildInfoLabels(), background.Get(), {}};
    g_open = &open;

    // The template's storage comes from operator new, so it is DWORD-aligned
    // as the system requires.
    HWND dialog = CreateDialogIndirectParamA(
        GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()),
        nullptr, InfoDialogProc, 0);
    if (dialog != nullptr) {
        AddLabels(dialog, open.labels);
        SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(dialog), 0);
        ShowWindow(dialog, SW_SHOW);
        RunModalLoop(dialog);
        // A loop ended by a quit request or an error leaves the window up.
        if (IsWindow(dialog)) {
            DestroyWindow(dialog);
        }
    }
    g_open = nullptr;
}

} // namespace kelzar
