/* kzdialog inspect HEX_TITLE
 *
 * Describes the top-level window with exactly this title, as another
 * program sees it: one "dialog" line (its styles, its client area and its
 * whole window in screen coordinates, the screen size) and one "control"
 * line per child window, in creation order (identifier, class, styles,
 * rectangle in the dialog's client coordinates, text length). Fields are
 * key=value pairs separated by TAB; classes and faces are hex-encoded.
 * Exit codes: 0 described, 1 bad arguments, 2 no such window.
 *
 * kzdialog fonts HEX_TITLE TIMEOUT_MS
 *
 * Describes the fonts of that window and of its children, read inside the
 * window's own process by kzdialoghook.dll (next to this program): a
 * "screen" line with the screen's vertical resolution there, then one
 * "font" line for the window ("id=dialog") and one per child: the LOGFONT
 * that WM_GETFONT's font was made from. Exit codes: 0 described, 1 bad
 * arguments, 2 no such window, 3 no answer within TIMEOUT_MS, 4 the hook
 * could not be installed.
 *
 * kzdialog cursors HEX_READY_MARKER HEX_RELEASE_MARKER TIMEOUT_MS
 *
 * Shows two 100 x 100 pixel windows without frames, at (0, 0) and (0, 200)
 * on the screen, whose class cursors are the system's pointing hand and
 * standard arrow; a test moves the pointer over each to learn how the
 * display draws those two cursors. Writes "hand X Y W H" and "arrow X Y W H"
 * into the READY marker once both are shown, then runs until the RELEASE
 * marker exists or TIMEOUT_MS passed. Exit codes: 0 released, 1 bad
 * arguments, 2 a window could not be created, 3 timed out. */
#include "hex_arg.h"

#include <stdio.h>
#include <windows.h>

static void PrintHex(const char* key, const char* text) {
    printf("\t%s=", key);
    for (const unsigned char* c = (const unsigned char*)text; *c != '\0'; ++c) {
        printf("%02x", *c);
    }
}

static BOOL CALLBACK DescribeControl(HWND control, LPARAM lParam) {
    HWND dialog = (HWND)lParam;
    if (GetParent(control) != dialog) {
        return TRUE;
    }
    char className[64] = "";
    GetClassNameA(control, className, sizeof className);
    RECT area;
    GetWindowRect(control, &area);
    /* A control's position relative to the dialog's client area. */
    MapWindowPoints(NULL, dialog, (POINT*)&area, 2);
    printf("control\tid=%d", GetDlgCtrlID(control));
    PrintHex("class", className);
    printf("\tstyle=%08lx\texstyle=%08lx\tx=%ld\ty=%ld\twidth=%ld\theight=%ld\ttextlength=%ld",
           (unsigned long)GetWindowLongA(control, GWL_STYLE),
           (unsigned long)GetWindowLongA(control, GWL_EXSTYLE), area.left, area.top,
           area.right - area.left, area.bottom - area.top,
           (long)SendMessageA(control, WM_GETTEXTLENGTH, 0, 0));
    printf("\n");
    return TRUE;
}

/* The top-level window with this title; NULL (after a message) when the
 * argument is not valid (*code 1) or there is no such window (*code 2). */
static HWND FindTitled(const char* hexTitle, int* code) {
    char* title = DecodeHex(hexTitle);
    if (title == NULL) {
        fprintf(stderr, "kzdialog: argument is not valid\n");
        *code = 1;
        return NULL;
    }
    HWND window = FindWindowA(NULL, title);
    free(title);
    if (window == NULL) {
        fprintf(stderr, "kzdialog: no such window\n");
        *code = 2;
    }
    return window;
}

static int Inspect(const char* hexTitle) {
    int code = 0;
    HWND dialog = FindTitled(hexTitle, &code);
    if (dialog == NULL) {
        return code;
    }
    RECT client;
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, NULL, (POINT*)&client, 2);
    RECT frame;
    GetWindowRect(dialog, &frame);
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    char className[64] = "";
    GetClassNameA(dialog, className, sizeof className);
    printf("dialog");
    PrintHex("class", className);
    printf("\tstyle=%08lx\texstyle=%08lx\tx=%ld\ty=%ld\twidth=%ld\theight=%ld\tvisible=%d",
           (unsigned long)GetWindowLongA(dialog, GWL_STYLE),
           (unsigned long)GetWindowLongA(dialog, GWL_EXSTYLE), client.left, client.top,
           client.right - client.left, client.bottom - client.top, IsWindowVisible(dialog));
    printf("\twindowx=%ld\twindowy=%ld\twindowwidth=%ld\twindowheight=%ld"
           "\tworkx=%ld\tworky=%ld\tworkwidth=%ld\tworkheight=%ld\n",
           frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, work.left,
           work.top, work.right - work.left, work.bottom - work.top);
    EnumChildWindows(dialog, DescribeControl, (LPARAM)dialog);
    fflush(stdout);
    return 0;
}

static int g_answered = 0;

static LRESULT CALLBACK ReplyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT* data = (const COPYDATASTRUCT*)lParam;
        fwrite(data->lpData, 1, data->cbData, stdout);
        fflush(stdout);
        g_answered = 1;
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int DescribeFonts(const char* hexTitle, const char* timeoutText) {
    int code = 0;
    DWORD timeout = strtoul(timeoutText, NULL, 10);
    HWND dialog = FindTitled(hexTitle, &code);
    if (dialog == NULL || timeout == 0) {
        return code != 0 ? code : 1;
    }
    /* The hook library must be named by a full path: the dialog's process
     * loads it by that name. */
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    char* slash = strrchr(path, '\\');
    if (length == 0 || length >= MAX_PATH || slash == NULL ||
        (size_t)(slash + 1 - path) + sizeof "kzdialoghook.dll" > MAX_PATH) {
        return 4;
    }
    strcpy(slash + 1, "kzdialoghook.dll");
    HMODULE library = LoadLibraryA(path);
    HOOKPROC hook = library != NULL ? (HOOKPROC)GetProcAddress(library, "DescribeHook") : NULL;
    if (hook == NULL) {
        fprintf(stderr, "kzdialog: cannot load %s, error %lu\n", path, GetLastError());
        return 4;
    }

    WNDCLASSA windowClass = {0};
    windowClass.lpfnWndProc = ReplyWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "kzdialog reply";
    RegisterClassA(&windowClass);
    HWND reply = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 NULL, windowClass.hInstance, NULL);
    HHOOK installed = reply != NULL ? SetWindowsHookExA(WH_GETMESSAGE, hook, library,
                                                        GetWindowThreadProcessId(dialog, NULL))
                                    : NULL;
    if (installed == NULL) {
        fprintf(stderr, "kzdialog: cannot install the hook, error %lu\n", GetLastError());
        return 4;
    }
    PostMessageA(dialog, RegisterWindowMessageA("kzdialog describe fonts"), 0, (LPARAM)reply);
    DWORD start = GetTickCount();
    while (!g_answered && GetTickCount() - start < timeout) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
    }
    UnhookWindowsHookEx(installed);
    if (!g_answered) {
        fprintf(stderr, "kzdialog: no answer from the dialog\n");
        return 3;
    }
    return 0;
}

static LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND ShowCursorWindow(const char* className, LPCSTR cursor, int y) {
    WNDCLASSA windowClass = {0};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.hCursor = LoadCursorA(NULL, cursor);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
    windowClass.lpszClassName = className;
    if (windowClass.hCursor == NULL || !RegisterClassA(&windowClass)) {
        return NULL;
    }
    HWND window = CreateWindowExA(WS_EX_TOPMOST, className, className, WS_POPUP | WS_VISIBLE, 0, y,
                                  100, 100, NULL, NULL, windowClass.hInstance, NULL);
    if (window != NULL) {
        UpdateWindow(window);
    }
    return window;
}

static int ShowCursors(const char* hexReady, const char* hexRelease, const char* timeoutText) {
    char* ready = DecodeHex(hexReady);
    char* release = DecodeHex(hexRelease);
    DWORD timeout = strtoul(timeoutText, NULL, 10);
    if (ready == NULL || release == NULL || timeout == 0) {
        fprintf(stderr, "kzdialog: arguments are not valid\n");
        return 1;
    }
    HWND hand = ShowCursorWindow("kzdialog hand", IDC_HAND, 0);
    HWND arrow = ShowCursorWindow("kzdialog arrow", IDC_ARROW, 200);
    if (hand == NULL || arrow == NULL) {
        fprintf(stderr, "kzdialog: cannot create the windows, error %lu\n", GetLastError());
        return 2;
    }
    // Written beside and renamed, so that the test never reads the marker
    // before its lines are in it.
    char partial[MAX_PATH + 8];
    snprintf(partial, sizeof partial, "%s.part", ready);
    FILE* marker = fopen(partial, "w");
    if (marker == NULL) {
        return 2;
    }
    fprintf(marker, "hand 0 0 100 100\narrow 0 200 100 100\n");
    if (fclose(marker) != 0 || !MoveFileExA(partial, ready, MOVEFILE_REPLACE_EXISTING)) {
        return 2;
    }
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (GetFileAttributesA(release) != INVALID_FILE_ATTRIBUTES) {
            return 0;
        }
        if (GetTickCount() - start > timeout) {
            return 3;
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
    }
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "inspect") == 0) {
        return Inspect(argv[2]);
    }
    if (argc == 4 && strcmp(argv[1], "fonts") == 0) {
        return DescribeFonts(argv[2], argv[3]);
    }
    if (argc == 5 && strcmp(argv[1], "cursors") == 0) {
        return ShowCursors(argv[2], argv[3], argv[4]);
    }
    fprintf(stderr, "usage: kzdialog inspect HEX_TITLE | fonts HEX_TITLE TIMEOUT_MS"
                    " | cursors HEX_READY HEX_RELEASE TIMEOUT_MS\n");
    return 1;
}
