// The process: its error mode, its command line and executable, and the
// debugger's channel.
#include "sys/process.h"

#include "sys/win32_internal.h"

#include <windows.h>

namespace kelzar::sys {

using namespace detail;

void PrepareProcess() {
    // No system message box may wait for a click (a scheduled job would
    // stall): not for a drive without a disk, a file that cannot be found,
    // nor a crash. Whatever mode the caller handed down is kept.
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
                 SEM_NOOPENFILEERRORBOX);
}

void DebugLog(const std::string& line) {
    // In the ANSI code page: debuggers take both forms alike, and Wine's
    // debug channel shows only this one.
    std::wstring wide = Wide(line + "\n");
    int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), length, nullptr, nullptr);
    }
    OutputDebugStringA(ansi.c_str());
}

bool IsTransientHold(const Failure& failure) {
    // A rename onto a file that any process has open answers "access
    // denied", even when that process shares deletion: viewers, indexers,
    // sync clients and scanners hold fresh archives for a moment.
    return failure.code == ERROR_SHARING_VIOLATION || failure.code == ERROR_ACCESS_DENIED ||
           failure.code == ERROR_LOCK_VIOLATION;
}

std::string GetCommandLineText() {
    return Narrow(GetCommandLineW());
}

std::string GetExeFilePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return Narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

} // namespace kelzar::sys
