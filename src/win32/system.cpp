// The Windows side of the system layer: the wide-character API throughout.
// UTF-8 texts become UTF-16 right at each call; paths too long for the
// classic limit take the "\\?\" form, which reaches every path the file
// system can hold.
#include "win32/system.h"

#include "common/utf.h"

#include <windows.h>

#include <aclapi.h>
#include <process.h>

#include <atomic>
#include <cstring>
#include <optional>

namespace kelzar::sys {

namespace {

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle h) { return FindClose(h) != 0; }
};
using UniqueFind = UniqueResource<FindHandleTraits>;

// Memory the system hands out with LocalAlloc (security descriptors).
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle h) { return LocalFree(h) == nullptr; }
};
using UniqueLocal = UniqueResource<LocalMemoryTraits>;

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
constexpr std::size_t kLongPathFrom = MAX_PATH - 12;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

// The whole path as the system reads it, by its own rules (which also read
// drive-relative forms such as "d:name"); empty when it cannot say.
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

// The "\\?\" form of a full path, which reaches past the classic limit.
std::wstring Extended(const std::wstring& full) {
    if (full.rfind(L"\\\\?\\", 0) == 0) {
        return full;
    }
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

// The path as the wide API takes it. Whether it is long is decided on its
// absolute form: a relative or drive-relative path is held to the classic
// limit once the system has made it absolute. A long one is given in the
// "\\?\" form, which takes no relative parts, no "/", no "." or "..".
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

// The long form of an existing full path (no 8.3 aliases), asked in the
// "\\?\" form when the path is long; the path itself when the system has
// none (a name that does not exist yet).
std::wstring LongForm(const std::wstring& full) {
    const UserFilesScope userFiles;
    const bool ours = full.size() >= kLongPathFrom && full.rfind(L"\\\\?\\", 0) != 0;
    const std::wstring asked = ours ? Extended(full) : full;
    DWORD length = GetLongPathNameW(asked.c_str(), nullptr, 0);
    if (length == 0) {
        return full;
    }
    std::wstring longPath(length, L'\0');
    length = GetLongPathNameW(asked.c_str(), longPath.data(), length);
    if (length == 0 || length >= longPath.size()) {
        return full;
    }
    longPath.resize(length);
    if (!ours) {
        return longPath;
    }
    // Back to the form given: the prefix added here comes off again.
    return asked.rfind(L"\\\\?\\UNC\\", 0) == 0 ? L"\\\\" + longPath.substr(8) : longPath.substr(4);
}

// ReadFile and WriteFile take a 32-bit length: a request of 4 GiB or more
// (possible in a 64-bit build) goes in pieces of at most 1 GiB, never cut
// to its low 32 bits.
DWORD Piece(std::size_t size) {
    constexpr std::size_t kLargest = std::size_t{1} << 30;
    return static_cast<DWORD>(size < kLargest ? size : kLargest);
}

std::uint64_t Combine(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

FILETIME ToFileTime(std::uint64_t value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

Result<FileId> IdOfHandle(HANDLE handle, const std::string& path) {
    // The full identity where the file system gives it; the 64-bit index,
    // unique only on some file systems, where it does not. One volume
    // always answers the same way, so ids of one volume compare alike.
    FILE_ID_INFO full;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &full, sizeof full)) {
        std::uint64_t halves[2];
        static_assert(sizeof halves == sizeof full.FileId.Identifier);
        std::memcpy(halves, full.FileId.Identifier, sizeof halves);
        return FileId{full.VolumeSerialNumber, halves[1], halves[0]};
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return LastFailure("identify", path);
    }
    return FileId{info.dwVolumeSerialNumber, 0, Combine(info.nFileIndexHigh, info.nFileIndexLow)};
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

} // namespace

FileHandleTraits::Handle FileHandleTraits::Invalid() {
    return INVALID_HANDLE_VALUE;
}

bool FileHandleTraits::Close(Handle handle) {
    return CloseHandle(handle) != 0;
}

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

Listing ListEntries(const std::string& pattern) {
    const UserFilesScope userFiles;
    Listing listing;
    WIN32_FIND_DATAW data;
    // Basic information leaves out the 8.3 names nobody here reads; the large
    // fetch asks the file system for many entries per call.
    UniqueFind find(FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
            listing.failure = Failure{error, "list", pattern};
        }
        return listing;
    }
    do {
        listing.entries.push_back(ToEntry(data));
    } while (FindNextFileW(find.Get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        listing.failure = LastFailure("list to the end", pattern);
    }
    return listing;
}

Result<FileId> GetFileId(const std::string& path) {
    // Attributes only, which works on files that others hold open; backup
    // semantics opens folders too.
    auto handle = OpenFile("identify", path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS);
    if (!handle) {
        return handle.Why();
    }
    return IdOfHandle(handle->Get(), path);
}

Result<std::uint64_t> GetFileIndex(const std::string& path) {
    auto handle = OpenFile("identify", path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS);
    if (!handle) {
        return handle.Why();
    }
    // NtQueryInformationFile's FileInternalInformation (6) answers from the
    // file alone; found at run time, as the program binds no ntdll import.
    struct IoStatus {
        void* status;
        ULONG_PTR information;
    };
    using QueryFn = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, int);
    static const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    constexpr int kFileInternalInformation = 6;
    LARGE_INTEGER index{};
    IoStatus io{};
    if (query != nullptr &&
        query(handle->Get(), &io, &index, sizeof index, kFileInternalInformation) >= 0) {
        return static_cast<std::uint64_t>(index.QuadPart);
    }
    Result<FileId> id = IdOfHandle(handle->Get(), path);
    if (!id) {
        return id.Why();
    }
    return id->index;
}

Result<std::string> CanonicalName(const std::string& path) {
    std::wstring full = FullPath(Wide(path));
    if (full.empty()) {
        return LastFailure("resolve", path);
    }
    full = LongForm(full);
    std::wstring name = full.substr(full.find_last_of(L"\\/") + 1);
    if (name.empty()) {
        return Failure{ERROR_INVALID_NAME, "resolve", path};
    }
    return UpperCase(Narrow(name));
}

Result<std::string> FullFolderPath(const std::string& folder) {
    std::wstring full = FullPath(folder.empty() ? std::wstring(L".") : Wide(folder));
    if (full.empty()) {
        return LastFailure("resolve the folder", folder);
    }
    full = LongForm(full);
    if (full.back() != L'\\' && full.back() != L'/') {
        full += L'\\';
    }
    // In the "\\?\" form, which the system takes as it is: the names a
    // listing of it yields, joined to it, then name the very files listed,
    // also those ending in a dot or a space (which the system's reading of a
    // path would trim: "a." would open "a"). The folder's own spelling was
    // read by the system's rules above.
    if (full.rfind(L"\\\\.\\", 0) == 0) {
        full[2] = L'?';
    }
    return Narrow(Extended(full));
}

Result<InputFile> InputFile::Open(const std::string& path) {
    // Sharing everything lets a file that another program keeps open for
    // writing (a log) be archived, and never stops that program from
    // renaming or deleting its file; only reading access is asked, so
    // read-only files open too.
    auto handle =
        OpenFile("open", path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!handle) {
        return handle.Why();
    }
    // A name can lead to something other than a file on a disk: a device
    // (a legacy name such as "con.txt"), or a pipe (a FIFO, under Wine). Its
    // reads could wait for ever, and it is no file to archive.
    if (GetFileType(handle->Get()) != FILE_TYPE_DISK) {
        return Failure{ERROR_BAD_FILE_TYPE, "open as a file on a disk", path};
    }
    return InputFile(std::move(*handle), path);
}

Result<std::size_t> InputFile::Read(void* buffer, std::size_t size) {
    DWORD read = 0;
    if (!ReadFile(handle_.Get(), buffer, Piece(size), &read, nullptr)) {
        return LastFailure("read", path_);
    }
    return static_cast<std::size_t>(read);
}

Status InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD piece = Piece(size);
        DWORD read = 0;
        if (!ReadFile(handle_.Get(), bytes, piece, &read, &at)) {
            DWORD error = GetLastError();
            return error == ERROR_HANDLE_EOF
                       ? Failure{0, "read all of (it shrank while it was read)", path_}
                       : Failure{error, "read", path_};
        }
        if (read == 0) {
            return Failure{0, "read all of (it shrank while it was read)", path_};
        }
        bytes += read;
        offset += read;
        size -= read;
    }
    return Status::Done();
}

Result<std::uint64_t> InputFile::Size() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_.Get(), &size)) {
        return LastFailure("read the size of", path_);
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

Result<FileId> InputFile::Id() const {
    return IdOfHandle(handle_.Get(), path_);
}

CalendarTime LocalCalendarOf(std::uint64_t utcFileTime) {
    return ToLocalCalendar(ToFileTime(utcFileTime));
}

std::string UpperCase(const std::string& text) {
    std::wstring wide = Wide(text);
    int size = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                             static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr, 0);
    std::wstring upper(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size <= 0 || LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                   static_cast<int>(wide.size()), upper.data(), size, nullptr,
                                   nullptr, 0) != size) {
        return text;
    }
    return Narrow(upper);
}

Failure RandomAccessFile::Remember(Failure failure) const {
    firstFailure_->Offer(failure);
    return failure;
}

Result<RandomAccessFile> RandomAccessFile::OpenForReading(const std::string& path) {
    auto handle = OpenFile("open", path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!handle) {
        return handle.Why();
    }
    return RandomAccessFile(std::move(*handle), path);
}

Result<std::size_t> RandomAccessFile::Read(void* buffer, std::size_t size) {
    DWORD read = 0;
    if (!ReadFile(handle_.Get(), buffer, Piece(size), &read, nullptr)) {
        return Remember(LastFailure("read", path_));
    }
    return static_cast<std::size_t>(read);
}

Status RandomAccessFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        // An offset in the request reads there whatever the file position.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD piece = Piece(size);
        DWORD read = 0;
        if (!ReadFile(handle_.Get(), bytes, piece, &read, &at)) {
            return Remember(LastFailure("read back", path_));
        }
        if (read == 0) {
            return Remember(Failure{ERROR_HANDLE_EOF, "read back", path_});
        }
        bytes += read;
        offset += read;
        size -= read;
    }
    return Status::Done();
}

Status RandomAccessFile::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD piece = Piece(size);
        DWORD written = 0;
        if (!WriteFile(handle_.Get(), bytes, piece, &written, nullptr)) {
            return Remember(LastFailure("write", path_));
        }
        if (written == 0) {
            return Remember(Failure{ERROR_WRITE_FAULT, "write", path_});
        }
        bytes += written;
        size -= written;
    }
    return Status::Done();
}

Status RandomAccessFile::SeekTo(std::uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handle_.Get(), to, nullptr, FILE_BEGIN)) {
        return Remember(LastFailure("seek in", path_));
    }
    return Status::Done();
}

Result<std::uint64_t> RandomAccessFile::Position() const {
    LARGE_INTEGER zero{};
    LARGE_INTEGER at;
    if (!SetFilePointerEx(handle_.Get(), zero, &at, FILE_CURRENT)) {
        return Remember(LastFailure("seek in", path_));
    }
    return static_cast<std::uint64_t>(at.QuadPart);
}

Result<std::uint64_t> RandomAccessFile::Size() const {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_.Get(), &size)) {
        return Remember(LastFailure("read the size of", path_));
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

Result<FileId> RandomAccessFile::Id() const {
    return IdOfHandle(handle_.Get(), path_);
}

Status RandomAccessFile::SetBasicInfo(std::uint32_t attributes,
                                      std::optional<std::uint64_t> creationUtc) {
    FILE_BASIC_INFO info{}; // zero times: left as they are
    info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    if (creationUtc) {
        info.CreationTime.QuadPart = static_cast<LONGLONG>(*creationUtc);
    }
    if (!SetFileInformationByHandle(handle_.Get(), FileBasicInfo, &info, sizeof info)) {
        return Remember(LastFailure("set the attributes of", path_));
    }
    return Status::Done();
}

Status RandomAccessFile::TakeExplicitAccessOf(const std::string& path) {
    // Read through a handle: the security calls load a DLL of their own the
    // first time, which must not happen while the user's files are reached.
    auto source = OpenFile("read the access rules of", path, READ_CONTROL, kShareAll, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS);
    if (!source) {
        return Remember(source.Why());
    }
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(source->Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        return Remember(Failure{error, "read the access rules of", path});
    }
    const UniqueLocal owned(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const bool isProtected = (control & SE_DACL_PROTECTED) != 0;
    // Rules of the file's own: a list that inherits nothing, or an entry
    // that did not come from the folder. A file with only inherited rules
    // gets the same from the folder anyway.
    bool own = isProtected || (dacl == nullptr && (control & SE_DACL_PRESENT) != 0);
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && !own; ++i) {
        ACE_HEADER* ace = nullptr;
        own =
            GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && (ace->AceFlags & INHERITED_ACE) == 0;
    }
    if (own) {
        // Entries marked inherited are recomputed from the new file's folder.
        SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION | (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
        error =
            SetSecurityInfo(handle_.Get(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    }
    if (error != ERROR_SUCCESS) {
        return Remember(Failure{error, "copy the access rules of " + path + " to", path_});
    }
    return Status::Done();
}

Status RandomAccessFile::FlushToDisk() {
    if (!FlushFileBuffers(handle_.Get())) {
        return Remember(LastFailure("flush", path_));
    }
    return Status::Done();
}

Status RandomAccessFile::MoveOver(const std::string& to) {
    const UserFilesScope userFiles;
    // The rename takes the target's NT form, "\\??\\" and the full path: it
    // goes to the file system as it is, with no reading of DOS paths.
    std::wstring target = WidePath(to);
    if (target.rfind(L"\\\\?\\", 0) != 0) {
        std::wstring full = FullPath(target);
        if (full.empty()) {
            return Remember(LastFailure("replace", to));
        }
        target = Extended(full);
    }
    target[1] = L'?';
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, target.data(), nameBytes);
    if (!SetFileInformationByHandle(handle_.Get(), FileRenameInfo, info,
                                    static_cast<DWORD>(buffer.size()))) {
        // Not remembered: another program's brief hold is tried again.
        return LastFailure("replace", to);
    }
    path_ = to;
    return Status::Done();
}

Status RandomAccessFile::Close() {
    if (!handle_.Reset()) {
        return Remember(LastFailure("close", path_));
    }
    return Status::Done();
}

Result<NewFile> CreateUniqueFile(const std::string& prefix, const std::string& suffix,
                                 std::uint32_t attributes) {
    static unsigned serial = 0;
    const DWORD seed = GetCurrentProcessId() ^ GetTickCount();
    const DWORD flags = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    Failure failure;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[32];
        wsprintfA(unique, "%08lx%02x", static_cast<unsigned long>(seed + attempt * 7919u),
                  serial++ & 0xff);
        std::string name = prefix + unique + suffix;
        // The right to set access rules is asked for, to give the file those
        // of the archive it replaces; a user who may not is still served.
        // Deletion access lets the file be renamed through its handle.
        constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
        auto handle = OpenFile("create", name, kAccess | WRITE_DAC, 0, CREATE_NEW, flags);
        if (!handle && handle.Why().code == ERROR_ACCESS_DENIED) {
            handle = OpenFile("create", name, kAccess, 0, CREATE_NEW, flags);
        }
        if (handle) {
            return NewFile{name, RandomAccessFile(std::move(*handle), name)};
        }
        failure = handle.Why();
        if (failure.code != ERROR_FILE_EXISTS && failure.code != ERROR_ALREADY_EXISTS) {
            return failure;
        }
    }
    return failure;
}

Result<std::uint32_t> GetAttributes(const std::string& path) {
    const UserFilesScope userFiles;
    DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return LastFailure("read the attributes of", path);
    }
    return static_cast<std::uint32_t>(attributes);
}

bool IsAbsent(const Failure& failure) {
    return failure.code == ERROR_FILE_NOT_FOUND || failure.code == ERROR_PATH_NOT_FOUND;
}

Status SetAttributes(const std::string& path, std::uint32_t attributes) {
    const UserFilesScope userFiles;
    if (!SetFileAttributesW(WidePath(path).c_str(),
                            attributes ? attributes : FILE_ATTRIBUTE_NORMAL)) {
        return LastFailure("set the attributes of", path);
    }
    return Status::Done();
}

Result<std::uint64_t> GetCreationTime(const std::string& path) {
    const UserFilesScope userFiles;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
        return LastFailure("read the times of", path);
    }
    return Combine(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime);
}

Status MoveToFreeName(const std::string& from, const std::string& to) {
    const UserFilesScope userFiles;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    if (!MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        return LastFailure("rename to", to);
    }
    return Status::Done();
}

Status RemoveFile(const std::string& path) {
    const UserFilesScope userFiles;
    if (!DeleteFileW(WidePath(path).c_str())) {
        return LastFailure("delete", path);
    }
    return Status::Done();
}

Result<LockFile> LockFile::Acquire(const std::string& path, unsigned timeoutMs) {
    const std::uint64_t start = MonotonicMs();
    for (;;) {
        auto handle = OpenFile("lock", path, GENERIC_WRITE, 0, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE);
        if (handle) {
            Result<FileId> id = IdOfHandle(handle->Get(), path);
            LockFile lock(std::move(*handle));
            if (id) {
                lock.id_ = *id;
            }
            return lock;
        }
        const DWORD error = handle.Why().code;
        // "Access denied" comes from a folder we may not write to, and also
        // from a lock file its holder has closed while another program (a
        // scanner) still has it open: pending deletion, it still stands in
        // the listing, and it is held as long as it does.
        bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                     error == ERROR_SHARING_VIOLATION ||
                     (error == ERROR_ACCESS_DENIED && !ListEntries(path).entries.empty());
        if (!taken) {
            return handle.Why();
        }
        if (MonotonicMs() - start >= timeoutMs) {
            return Failure{ERROR_TIMEOUT, "wait for the lock", path};
        }
        // A live holder keeps the file open without sharing, so it cannot be
        // deleted; one that can is an orphan (the system stopped before it
        // could remove it) and would otherwise lock the archive for good.
        if (error != ERROR_FILE_EXISTS || !RemoveFile(path)) {
            SleepMs(50);
        }
    }
}

std::string FormatFileTime(std::uint64_t utcFileTime) {
    FILETIME utc = ToFileTime(utcFileTime);
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
            return Narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

std::uint64_t MonotonicMs() {
    return GetTickCount64();
}

void SleepMs(unsigned ms) {
    Sleep(ms);
}

unsigned ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

namespace {

struct ThreadHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle h) { return CloseHandle(h) != 0; }
};
using UniqueThread = UniqueResource<ThreadHandleTraits>;
using UniqueEvent = UniqueResource<ThreadHandleTraits>;

struct ThreadWork {
    const std::function<void(unsigned)>* work;
    unsigned index;
    HANDLE go;                          // set once every thread exists
    const std::atomic<bool>* cancelled; // a thread could not be had
};

unsigned __stdcall RunThread(void* parameter) {
    auto* job = static_cast<ThreadWork*>(parameter);
    WaitForSingleObject(job->go, INFINITE);
    if (!job->cancelled->load()) {
        (*job->work)(job->index);
    }
    return 0;
}

} // namespace

Status RunInParallel(unsigned count, const std::function<void(unsigned)>& work) {
    // Every thread exists before any work starts: the roles wait for one
    // another, so one that had to run later on this thread, or not at all,
    // would leave the others waiting for it for ever. _beginthreadex, not
    // CreateThread: the C runtime sets itself up for each thread it starts.
    UniqueEvent go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!go) {
        return LastFailure("create an event for", "the worker threads");
    }
    std::atomic<bool> cancelled{false};
    std::optional<Failure> failure;
    std::vector<ThreadWork> jobs(count);
    std::vector<UniqueThread> threads;
    for (unsigned i = 1; i < count; ++i) {
        jobs[i] = ThreadWork{&work, i, go.Get(), &cancelled};
        auto thread = _beginthreadex(nullptr, 0, RunThread, &jobs[i], 0, nullptr);
        if (thread == 0) {
            failure = LastFailure("start a thread for", "the run");
            cancelled = true;
            break;
        }
        threads.emplace_back(reinterpret_cast<HANDLE>(thread));
    }
    SetEvent(go.Get());
    if (!cancelled && count > 0) {
        work(0);
    }
    for (const UniqueThread& thread : threads) {
        WaitForSingleObject(thread.Get(), INFINITE);
    }
    return failure ? Status(*failure) : Status::Done();
}

struct Mutex::Impl {
    SRWLOCK lock = SRWLOCK_INIT;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() {
    AcquireSRWLockExclusive(&impl_->lock);
}
void Mutex::Unlock() {
    ReleaseSRWLockExclusive(&impl_->lock);
}

struct ConditionVariable::Impl {
    CONDITION_VARIABLE variable = CONDITION_VARIABLE_INIT;
};

ConditionVariable::ConditionVariable() : impl_(std::make_unique<Impl>()) {}
ConditionVariable::~ConditionVariable() = default;
void ConditionVariable::Wait(Mutex& mutex) {
    SleepConditionVariableSRW(&impl_->variable, &mutex.impl_->lock, INFINITE, 0);
}
void ConditionVariable::WakeAll() {
    WakeAllConditionVariable(&impl_->variable);
}

} // namespace kelzar::sys
