#include "sys/win32_internal.h"

#include "common/utf.h"

namespace kelzar::sys::detail {

std::wstring Wide(const std::string& text) {
    std::u16string wide = Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(std::wstring_view text) {
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

Failure LastFailure(const char* operation, const std::string& path) {
    return Failure{GetLastError(), operation, path};
}

std::wstring FullPath(const std::wstring& path) {
    DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return {};
    }
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        return {};
    }
    full.resize(length);
    return full;
}

std::wstring Extended(const std::wstring& full) {
    if (full.rfind(L"\\\\?\\", 0) == 0) {
        return full;
    }
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

std::wstring WidePath(const std::string& path) {
    std::wstring wide = Wide(path);
    if (wide.rfind(L"\\\\?\\", 0) == 0) {
        return wide;
    }
    // A short absolute path stays short when made absolute: the walk's own
    // paths, by far the most, need no call.
    const bool absolute =
        (wide.size() >= 3 && wide[1] == L':' && (wide[2] == L'\\' || wide[2] == L'/')) ||
        wide.rfind(L"\\\\", 0) == 0;
    if (absolute && wide.size() < kLongPathFrom) {
        return wide;
    }
    std::wstring full = FullPath(wide);
    if (full.empty() || full.size() < kLongPathFrom) {
        return wide;
    }
    return Extended(full);
}

std::uint64_t Combine(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

Result<UniqueFile> OpenFile(const char* operation, const std::string& path, DWORD access,
                            DWORD share, DWORD disposition, DWORD flags) {
    const UserFilesScope userFiles;
    UniqueFile handle(
        CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition, flags, nullptr));
    if (!handle) {
        return LastFailure(operation, path);
    }
    return handle;
}

} // namespace kelzar::sys::detail
