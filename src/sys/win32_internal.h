// What the Windows implementation files of the system layer share: the
// conversions between UTF-8 and the wide API's UTF-16, the paths as that API
// takes them, the failure of the last call, and the scope in which the
// user's files are reached. Private to src/sys: it holds Windows types.
#pragma once

#include "common/result.h"
#include "sys/files.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelzar::sys::detail {

// The 32-bit build on 64-bit Windows: the system silently redirects
// %windir%\System32 (and some folders in it) to the 32-bit SysWOW64 for it,
// so "C:\Windows\System32\*.dll" would store the 32-bit DLLs and a walk
// of C:\Windows would store SysWOW64 twice. Every call that reaches the
// user's files by name turns that off for its own thread while it runs, and
// only then: a DLL loaded meanwhile would be taken from the wrong folder.
// Nothing is done in a 64-bit process, nor on 32-bit Windows.
class UserFilesScope {
  public:
    UserFilesScope() {
        if (Wow64()) {
            off_ = Wow64DisableWow64FsRedirection(&previous_) != FALSE;
        }
    }
    ~UserFilesScope() {
        if (off_) {
            Wow64RevertWow64FsRedirection(previous_);
        }
    }
    UserFilesScope(const UserFilesScope&) = delete;
    UserFilesScope& operator=(const UserFilesScope&) = delete;

  private:
    static bool Wow64() {
        static const bool wow64 = [] {
            BOOL is = FALSE;
            return IsWow64Process(GetCurrentProcess(), &is) && is;
        }();
        return wow64;
    }
    void* previous_ = nullptr;
    bool off_ = false;
};

// Below this many UTF-16 units every call takes a path as it is. Folders must
// leave room for an 8.3 name (MAX_PATH - 12), so the margin is taken for all.
inline constexpr std::size_t kLongPathFrom = MAX_PATH - 12;
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Wide(const std::string& text);
std::string Narrow(std::wstring_view text);

Failure LastFailure(const char* operation, const std::string& path);

// The whole path as the system reads it, by its own rules (which also read
// drive-relative forms such as "d:name"); empty when it cannot say.
std::wstring FullPath(const std::wstring& path);

// The "\\?\" form of a full path, which reaches past the classic limit.
std::wstring Extended(const std::wstring& full);

// The path as the wide API takes it. Whether it is long is decided on its
// absolute form: a relative or drive-relative path is held to the classic
// limit once the system has made it absolute. A long one is given in the
// "\\?\" form, which takes no relative parts, no "/", no "." or "..".
std::wstring WidePath(const std::string& path);

std::uint64_t Combine(DWORD high, DWORD low);

// CreateFileW on the path as the wide API takes it, with the user's files
// in reach; the failure names the operation and the path.
Result<UniqueFile> OpenFile(const char* operation, const std::string& path, DWORD access,
                            DWORD share, DWORD disposition, DWORD flags);

} // namespace kelzar::sys::detail
