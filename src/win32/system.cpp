#include "win32/system.h"

#include <windows.h>

namespace kelzar::sys {

namespace {

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

} // namespace

std::vector<DirEntry> FindEntries(const std::string& pattern, bool* searchFailed) {
    std::vector<DirEntry> entries;
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(pattern.c_str(), &data));
    if (!find) {
        if (searchFailed != nullptr) {
            DWORD error = GetLastError();
            *searchFailed = error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES;
        }
        return entries;
    }
    do {
        entries.push_back(DirEntry{
            data.cFileName, data.dwFileAttributes, Combine(data.nFileSizeHigh, data.nFileSizeLow),
            Combine(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)});
    } while (FindNextFileA(find.Get(), &data));
    return entries;
}

std::optional<InputFile> InputFile::Open(const std::string& path) {
    // Sharing reading and writing lets a file that another program keeps open
    // for writing (a log) be archived; only reading access is asked, so
    // read-only files open too.
    UniqueFile handle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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

std::optional<std::uint32_t> GetAttributes(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    return attributes;
}

bool SetAttributes(const std::string& path, std::uint32_t attributes) {
    return SetFileAttributesA(path.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL) != 0;
}

std::optional<FileId> GetFileId(const std::string& path) {
    // Reading attributes only: works on files that others hold open.
    UniqueFile handle(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
        return std::nullopt;
    }
    return IdOfHandle(handle.Get());
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
        UniqueFile handle(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle) {
            return NewFile{std::move(name), std::move(handle)};
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool FlushToDisk(const std::string& path) {
    UniqueFile handle(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle && FlushFileBuffers(handle.Get()) && handle.Reset();
}

bool MoveOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

std::optional<LockFile> LockFile::Acquire(const std::string& path, unsigned timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        UniqueFile handle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
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
        if (error != ERROR_FILE_EXISTS || !DeleteFileA(path.c_str())) {
            Sleep(50);
        }
    }
}

std::string FormatFileTime(std::uint64_t utcFileTime) {
    FILETIME utc{static_cast<DWORD>(utcFileTime), static_cast<DWORD>(utcFileTime >> 32)};
    FILETIME local;
    SYSTEMTIME fields;
    char date[64] = "";
    char time[64] = "";
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &fields)) {
        if (!GetDateFormatA(0, DATE_SHORTDATE, &fields, nullptr, date, sizeof date)) {
            date[0] = '\0';
        }
        if (!GetTimeFormatA(0, TIME_NOSECONDS | TIME_FORCE24HOURFORMAT, &fields, nullptr, time,
                            sizeof time)) {
            time[0] = '\0';
        }
    }
    return std::string(date) + "  " + time;
}

std::string GetCommandLineText() {
    return GetCommandLineA();
}

std::string GetExeFilePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace kelzar::sys
