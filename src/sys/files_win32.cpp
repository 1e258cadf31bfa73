// Files through the wide-character API. UTF-8 texts become UTF-16 right at
// each call; paths too long for the classic limit take the "\\?\" form,
// which reaches every path the file system can hold.
#include "sys/files.h"

#include "sys/text.h"
#include "sys/threads.h"
#include "sys/walk.h"
#include "sys/win32_internal.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <vector>

namespace kelzar::sys {

using namespace detail;

namespace {

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

// Reads and writes at an offset set the handle's position and then read or
// write, with the file's position lock held, so that threads sharing the
// handle never move each other's position in between. Giving the offset in
// an OVERLAPPED instead would move the position all the same, and costs a
// round trip to the server under Wine: about 70 us a call, against about
// 1 us for the seek and the transfer.
bool Seek(HANDLE handle, std::uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) != 0;
}

// Reads all of `size` bytes at `offset`: ERROR_SUCCESS, or the system's
// error, ERROR_HANDLE_EOF when the file ends first.
DWORD ReadWholeAt(HANDLE handle, Mutex& lock, std::uint64_t offset, void* buffer,
                  std::size_t size) {
    MutexLock held(lock);
    if (!Seek(handle, offset)) {
        return GetLastError();
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        DWORD read = 0;
        if (!ReadFile(handle, bytes, Piece(size), &read, nullptr)) {
            return GetLastError();
        }
        if (read == 0) {
            return ERROR_HANDLE_EOF;
        }
        bytes += read;
        size -= read;
    }
    return ERROR_SUCCESS;
}

Result<std::uint64_t> SizeOfHandle(HANDLE handle, const std::string& path) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) {
        return LastFailure("read the size of", path);
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

} // namespace

FileHandleTraits::Handle FileHandleTraits::Invalid() {
    return INVALID_HANDLE_VALUE;
}

bool FileHandleTraits::Close(Handle handle) {
    return CloseHandle(handle) != 0;
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

Status InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    const DWORD error = ReadWholeAt(handle_.Get(), *positionLock_, offset, buffer, size);
    if (error == ERROR_HANDLE_EOF) {
        return Failure{0, "read all of (it shrank while it was read)", path_};
    }
    return error == ERROR_SUCCESS ? Status::Done() : Status(Failure{error, "read", path_});
}

Result<std::uint64_t> InputFile::Size() const {
    return SizeOfHandle(handle_.Get(), path_);
}

Result<FileId> InputFile::Id() const {
    return IdOfHandle(handle_.Get(), path_);
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

Result<std::size_t> RandomAccessFile::ReadSomeAt(std::uint64_t offset, void* buffer,
                                                 std::size_t size) const {
    MutexLock held(*positionLock_);
    DWORD read = 0;
    if (!Seek(handle_.Get(), offset) ||
        !ReadFile(handle_.Get(), buffer, Piece(size), &read, nullptr)) {
        return Remember(LastFailure("read", path_));
    }
    return static_cast<std::size_t>(read);
}

Status RandomAccessFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    const DWORD error = ReadWholeAt(handle_.Get(), *positionLock_, offset, buffer, size);
    return error == ERROR_SUCCESS ? Status::Done()
                                  : Status(Remember(Failure{error, "read back", path_}));
}

Status RandomAccessFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    MutexLock held(*positionLock_);
    if (!Seek(handle_.Get(), offset)) {
        return Remember(LastFailure("seek in", path_));
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle_.Get(), bytes, Piece(size), &written, nullptr)) {
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

Result<std::uint64_t> RandomAccessFile::Size() const {
    Result<std::uint64_t> size = SizeOfHandle(handle_.Get(), path_);
    if (!size) {
        return Remember(size.Why());
    }
    return size;
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

} // namespace kelzar::sys
