/* kzdialoghook.dll: the part of kzdialog that runs inside the program under
 * test. Fonts cannot be read from another process (the font handles a
 * window holds mean nothing elsewhere), so kzdialog installs DescribeHook on
 * the dialog's thread; the system loads this library into that process, and
 * when the dialog's thread takes kzdialog's probe message from its queue the
 * hook describes every child window's font there and sends the text back to
 * kzdialog's window with WM_COPYDATA. */
#include <stdio.h>
#include <windows.h>

#define KZ_PROBE_MESSAGE "kzdialog describe fonts"

struct Report {
    char text[8192];
    size_t length;
};

static void Append(struct Report* report, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = vsnprintf(report->text + report->length, sizeof report->text - report->length,
                            format, args);
    va_end(args);
    if (written > 0) {
        report->length += (size_t)written;
        if (report->length >= sizeof report->text) {
            report->length = sizeof report->text - 1;
        }
    }
}

static void AppendFont(struct Report* report, HFONT font) {
    LOGFONTA description;
    if (font == NULL) {
        Append(report, "\tfont=none");
    } else if (GetObjectA(font, sizeof description, &description) != sizeof description) {
        Append(report, "\tfont=unreadable");
    } else {
        Append(report,
               "\tfontheight=%ld\tfontwidth=%ld\tfontweight=%ld\titalic=%d\tunderline=%d"
               "\tstrikeout=%d\tcharset=%d\tface=",
               description.lfHeight, description.lfWidth, description.lfWeight,
               description.lfItalic, description.lfUnderline, description.lfStrikeOut,
               description.lfCharSet);
        for (const unsigned char* c = (const unsigned char*)description.lfFaceName; *c != '\0';
             ++c) {
            Append(report, "%02x", *c);
        }
    }
}

static BOOL CALLBACK DescribeChild(HWND child, LPARAM lParam) {
    struct Report* report = (struct Report*)lParam;
    Append(report, "font\tid=%d", GetDlgCtrlID(child));
    AppendFont(report, (HFONT)SendMessageA(child, WM_GETFONT, 0, 0));
    Append(report, "\n");
    return TRUE;
}

__declspec(dllexport) LRESULT CALLBACK DescribeHook(int code, WPARAM wParam, LPARAM lParam) {
    MSG* message = (MSG*)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE &&
        message->message == RegisterWindowMessageA(KZ_PROBE_MESSAGE)) {
        static struct Report report;
        report.length = 0;
        HWND dialog = message->hwnd;
        HWND reply = (HWND)message->lParam;
        HDC screen = GetDC(NULL);
        Append(&report, "screen\tdpi=%d\n", GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(NULL, screen);
        Append(&report, "font\tid=dialog");
        AppendFont(&report, (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0));
        Append(&report, "\n");
        EnumChildWindows(dialog, DescribeChild, (LPARAM)&report);
        COPYDATASTRUCT data = {0, (DWORD)report.length, report.text};
        SendMessageA(reply, WM_COPYDATA, (WPARAM)dialog, (LPARAM)&data);
        message->message = WM_NULL; /* the dialog itself never sees the probe */
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
