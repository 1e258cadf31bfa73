// The Windows side of the system layer: the wide-character API throughout.
// UTF-8 texts become UTF-16 right at each call; paths too long for the
// classic limit take the "\\?\" form, which reaches every path the file
// system can hold.
#include "win32/system.h"

#include "common/utf.h"

#include <windows.h>

namespace kelzar::sys {

namespace {

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle h) { return FindClose(h) != 0; }
};
using UniqueFind = UniqueResource<FindHandleTraits>;

// Below this many UTF-16 units every call takes a path as it is. Folders must
// leave room for an 8.3 name (MAX_PATH - 12), so the margin is taken for all.
constexpr std::size_t kLongPathFrom = MAX_PATH - 12;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Wide(const std::string& text) {
    std::u16string wide = Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* text) {
    std::wstring_view view(text);
    return Utf16ToUtf8(std::u16string(view.begin(), view.end()));
}

// The path as the wide API takes it. A long one is made absolute (the "\\?\"
// form takes no relative parts, no "/", no "." or "..") with the system's own
// rules, which also read drive-relative forms such as "d:name".
std::wstring WidePath(const std::string& path) {
    std::wstring wide = Wide(path);
    if (wide.size() < kLongPathFrom || wide.rfind(L"\\\\?\\", 0) == 0) {
        return wide;
    }
    DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return wide;
    }
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        return wide;
    }
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

std::uint64_t Combine(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

std::optional<FileId> IdOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    return FileId{info.dwVolumeSerialNumber, Combine(info.nFileIndexHigh, info.nFileIndexLow)};
}

CalendarTime ToLocalCalendar(const FILETIME& utc) {
    FILETIME local;
    SYSTEMTIME fields;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) {
        // Only times far outside the calendar fail to convert: those near
        // zero (before 1601 once the zone is added), those beyond the year
        // 30827, and times before 1601, which file systems hand over as
        // negative numbers (near 2^64). The ZIP date is clamped from them.
        DWORD high = utc.dwHighDateTime;
        bool future = high >= 0x40000000 && high < 0xC0000000;
        return future ? CalendarTime{30827, 12, 31, 23, 59, 59} : CalendarTime{1601, 1, 1};
    }
    return CalendarTime{fields.wYear, fields.wMonth,  fields.wDay,
                        fields.wHour, fields.wMinute, fields.wSecond};
}

DirEntry ToEntry(const WIN32_FIND_DATAW& data) {
    return DirEntry{
        Narrow(data.cFileName), data.dwFileAttributes,
        Combine(data.nFileSizeHigh, data.nFileSizeLow),
        Combine(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

UniqueFile OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags) {
    return UniqueFile(
        CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition, flags, nullptr));
}

} // namespace

FileHandleTraits::Handle FileHandleTraits::Invalid() {
    return INVALID_HANDLE_VALUE;
}

bool FileHandleTraits::Close(Handle handle) {
    return CloseHandle(handle) != 0;
}

void PrepareProcess() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

Listing ListEntries(const std::string& pattern) {
    Listing listing;
    WIN32_FIND_DATAW data;
    // Basic information leaves out the 8.3 names nobody here reads; the large
    // fetch asks the file system for many entries per call.
    UniqueFind find(FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        DWORD error = GetLastError();
        listing.failed = error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES;
        return listing;
    }
    do {
        listing.entries.push_back(ToEntry(data));
    } while (FindNextFileW(find.Get(), &data));
    listing.failed = GetLastError() != ERROR_NO_MORE_FILES;
    return listing;
}

std::optional<FileId> GetFileId(const std::string& path) {
    // Attributes only, which works on files that others hold open; backup
    // semantics opens folders too.
    UniqueFile handle =
        OpenFile(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    return handle ? IdOfHandle(handle.Get()) : std::nullopt;
}

std::optional<InputFile> InputFile::Open(const std::string& path) {
    // Sharing everything lets a file that another program keeps open for
    // writing (a log) be archived, and never stops that program from
    // renaming or deleting its file; only reading access is asked, so
    // read-only files open too.
    UniqueFile handle =
        OpenFile(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!handle) {
        return std::nullopt;
    }
    LARGE_INTEGER size;
    FILETIME written;
    std::optional<FileId> id = IdOfHandle(handle.Get());
    if (!GetFileSizeEx(handle.Get(), &size) ||
        !GetFileTime(handle.Get(), nullptr, nullptr, &written) || !id) {
        return std::nullopt;
    }
    InputFile file(std::move(handle));
    file.size_ = static_cast<std::uint64_t>(size.QuadPart);
    file.id_ = *id;
    file.lastWriteLocal_ = ToLocalCalendar(written);
    return file;
}

std::optional<std::size_t> InputFile::Read(void* buffer, std::size_t size) {
    DWORD read = 0;
    if (!ReadFile(handle_.Get(), buffer, static_cast<DWORD>(size), &read, nullptr)) {
        return std::nullopt;
    }
    return read;
}

std::optional<RandomAccessFile> RandomAccessFile::OpenForReading(const std::string& path) {
    UniqueFile handle = OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!handle) {
        return std::nullopt;
    }
    return RandomAccessFile(std::move(handle));
}

std::optional<std::size_t> RandomAccessFile::Read(void* buffer, std::size_t size) {
    DWORD read = 0;
    if (!ReadFile(handle_.Get(), buffer, static_cast<DWORD>(size), &read, nullptr)) {
        return std::nullopt;
    }
    return read;
}

bool RandomAccessFile::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD piece = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle_.Get(), bytes, piece, &written, nullptr) || written == 0) {
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool RandomAccessFile::SeekTo(std::uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle_.Get(), to, nullptr, FILE_BEGIN) != 0;
}

std::optional<std::uint64_t> RandomAccessFile::Position() const {
    LARGE_INTEGER zero{};
    LARGE_INTEGER at;
    if (!SetFilePointerEx(handle_.Get(), zero, &at, FILE_CURRENT)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(at.QuadPart);
}

std::optional<std::uint64_t> RandomAccessFile::Size() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_.Get(), &size)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<FileId> RandomAccessFile::Id() const {
    return IdOfHandle(handle_.Get());
}

bool RandomAccessFile::SetAttributes(std::uint32_t attributes) {
    FILE_BASIC_INFO info{}; // zero times: left as they are
    info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle_.Get(), FileBasicInfo, &info, sizeof info) != 0;
}

bool RandomAccessFile::FlushToDisk() {
    return FlushFileBuffers(handle_.Get()) != 0;
}

std::optional<NewFile> CreateUniqueFile(const std::string& prefix, const std::string& suffix,
                                        std::uint32_t attributes) {
    static unsigned serial = 0;
    const DWORD seed = GetCurrentProcessId() ^ GetTickCount();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[32];
        wsprintfA(unique, "%08lx%02x", static_cast<unsigned long>(seed + attempt * 7919u),
                  serial++ & 0xff);
        std::string name = prefix + unique + suffix;
        UniqueFile handle = OpenFile(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW,
                                     attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
        if (handle) {
            return NewFile{std::move(name), RandomAccessFile(std::move(handle))};
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> GetAttributes(const std::string& path) {
    DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    return attributes;
}

bool SetAttributes(const std::string& path, std::uint32_t attributes) {
    return SetFileAttributesW(WidePath(path).c_str(),
                              attributes ? attributes : FILE_ATTRIBUTE_NORMAL) != 0;
}

bool MoveOver(const std::string& from, const std::string& to) {
    return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool MoveToFreeName(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileW(WidePath(path).c_str()) != 0;
}

std::optional<LockFile> LockFile::Acquire(const std::string& path, unsigned timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        UniqueFile handle = OpenFile(path, GENERIC_WRITE, 0, CREATE_NEW,
                                     FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE);
        if (handle) {
            std::optional<FileId> id = IdOfHandle(handle.Get());
            LockFile lock(std::move(handle));
            if (id) {
                lock.id_ = *id;
            }
            return lock;
        }
        DWORD error = GetLastError();
        // A lock file that its holder is closing can answer "access denied"
        // for a moment; a folder we may not write to answers so for good.
        bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                     error == ERROR_SHARING_VIOLATION ||
                     (error == ERROR_ACCESS_DENIED && GetAttributes(path).has_value());
        if (!taken || GetTickCount() - start >= timeoutMs) {
            return std::nullopt;
        }
        // A live holder keeps the file open without sharing, so it cannot be
        // deleted; one that can is an orphan (the system stopped before it
        // could remove it) and would otherwise lock the archive for good.
        if (error != ERROR_FILE_EXISTS || !RemoveFile(path)) {
            Sleep(50);
        }
    }
}

std::string FormatFileTime(std::uint64_t utcFileTime) {
    FILETIME utc{static_cast<DWORD>(utcFileTime), static_cast<DWORD>(utcFileTime >> 32)};
    FILETIME local;
    SYSTEMTIME fields;
    wchar_t date[64] = L"";
    wchar_t time[64] = L"";
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &fields)) {
        if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &fields, nullptr, date, 64)) {
            date[0] = L'\0';
        }
        if (!GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS | TIME_FORCE24HOURFORMAT, &fields,
                            nullptr, time, 64)) {
            time[0] = L'\0';
        }
    }
    return Narrow(date) + "  " + Narrow(time);
}

std::optional<std::string> ToAnsiExactly(const std::string& name) {
    const UINT codePage = GetACP();
    std::wstring wide = Wide(name);
    if (codePage == CP_UTF8 || wide.empty()) {
        // A UTF-8 system code page holds everything, but ZIP readers take a
        // name without the UTF-8 flag for the old DOS code page: such names
        // are better flagged.
        return codePage == CP_UTF8 ? std::nullopt : std::optional<std::string>(std::string());
    }
    const int units = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0,
                                     nullptr, &usedDefault);
    if (length <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string ansi(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), units, ansi.data(), length,
                        nullptr, &usedDefault);
    // Reading it back must give the very same name.
    int back = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi.data(), length, nullptr, 0);
    std::wstring again(static_cast<std::size_t>(back > 0 ? back : 0), L'\0');
    if (back <= 0 || usedDefault ||
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi.data(), length, again.data(),
                            back) != back ||
        again != wide) {
        return std::nullopt;
    }
    return ansi;
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
            return Narrow(path.c_str());
        }
        path.resize(path.size() * 2);
    }
}

} // namespace kelzar::sys
