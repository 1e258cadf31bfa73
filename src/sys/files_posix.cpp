// Files through POSIX descriptors, behaving as the Windows layer's do where
// the program depends on it.
#include "sys/files.h"

#include "sys/posix_internal.h"
#include "sys/threads.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <thread>

namespace kelzar::sys {

using namespace detail;

namespace {

int Fd(void* handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

void* ToHandle(int fd) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
}

int OpenTracked(const std::string& path, int flags, mode_t mode = 0) {
    int fd = open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0) {
        std::lock_guard lock(Get().mutex);
        Get().paths[fd] = path;
        Get().readSoFar[fd] = 0;
    }
    return fd;
}

// Reads at `at`, with the faults set for the file's path.
Result<std::size_t> ReadTracked(int fd, void* buffer, std::size_t size, std::uint64_t at) {
    std::string path;
    {
        std::lock_guard lock(Get().mutex);
        path = Get().paths[fd];
        auto fails = Get().readsFailAfter.find(path);
        if (fails != Get().readsFailAfter.end()) {
            std::uint64_t left = fails->second - std::min(fails->second, Get().readSoFar[fd]);
            if (left == 0) {
                return Failure{EIO, "read", path};
            }
            size = static_cast<std::size_t>(std::min<std::uint64_t>(size, left));
        }
    }
    ssize_t got = pread(fd, buffer, size, static_cast<off_t>(at));
    if (got < 0) {
        return Errno("read", path);
    }
    std::lock_guard lock(Get().mutex);
    Get().readSoFar[fd] += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

sys::FileId IdOf(const struct stat& status) {
    return sys::FileId{static_cast<std::uint64_t>(status.st_dev), 0,
                       static_cast<std::uint64_t>(status.st_ino)};
}

// The size and the identity of an open file, as both file types ask them.
Result<std::uint64_t> SizeOfFd(int fd, const std::string& path) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return Errno("read the size of", path);
    }
    return static_cast<std::uint64_t>(status.st_size);
}

Result<sys::FileId> IdOfFd(int fd, const std::string& path) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return Errno("identify", path);
    }
    return IdOf(status);
}

// The status of a path whose identity is asked, unless a test made it
// unreadable.
Result<struct stat> StatToIdentify(const std::string& path) {
    struct stat status {};
    if (stat(Posix(path).c_str(), &status) != 0) {
        return Errno("identify", path);
    }
    std::lock_guard lock(Get().mutex);
    for (const auto& [device, inode] : Get().unidentifiable) {
        if (device == status.st_dev && inode == status.st_ino) {
            return Failure{EACCES, "identify", path};
        }
    }
    return status;
}

} // namespace

FileHandleTraits::Handle FileHandleTraits::Invalid() {
    return ToHandle(-1);
}

bool FileHandleTraits::Close(Handle handle) {
    int fd = Fd(handle);
    std::string unlinkPath;
    {
        std::lock_guard lock(Get().mutex);
        if (Get().deleteOnClose.erase(fd) != 0) {
            unlinkPath = Get().paths[fd];
        }
        Get().paths.erase(fd);
        Get().readSoFar.erase(fd);
    }
    if (!unlinkPath.empty()) {
        unlink(unlinkPath.c_str());
    }
    return close(fd) == 0;
}

Result<FileId> GetFileId(const std::string& path) {
    Result<struct stat> status = StatToIdentify(path);
    if (!status) {
        return status.Why();
    }
    return IdOf(*status);
}

Result<std::uint64_t> GetFileIndex(const std::string& path) {
    Result<struct stat> status = StatToIdentify(path);
    if (!status) {
        return status.Why();
    }
    return static_cast<std::uint64_t>(status->st_ino);
}

Result<std::string> CanonicalName(const std::string& path) {
    std::string name = NameOf(Posix(path));
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        name.pop_back();
    }
    if (name.empty()) {
        return Failure{EINVAL, "resolve", path};
    }
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return name;
}

Result<std::string> FullFolderPath(const std::string& folder) {
    std::error_code error;
    std::filesystem::path full =
        std::filesystem::absolute(folder.empty() ? "." : Posix(folder), error);
    if (error) {
        return Failure{static_cast<std::uint32_t>(error.value()), "resolve the folder", folder};
    }
    std::string text = full.lexically_normal().string();
    if (text.back() != '/') {
        text += '/';
    }
    return text;
}

Result<InputFile> InputFile::Open(const std::string& path) {
    std::string posixPath = Posix(path);
    struct stat status {};
    if (stat(posixPath.c_str(), &status) != 0) {
        return Errno("open", path);
    }
    if (S_ISDIR(status.st_mode)) {
        return Failure{EISDIR, "open", path};
    }
    int fd = OpenTracked(posixPath, O_RDONLY);
    if (fd < 0) {
        return Errno("open", path);
    }
    return InputFile{UniqueFile(ToHandle(fd)), path};
}

Status InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    int fd = Fd(handle_.Get());
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        {
            std::lock_guard lock(Get().mutex);
            auto fails = Get().readsFailAfter.find(Get().paths[fd]);
            if (fails != Get().readsFailAfter.end() && offset + size > fails->second) {
                return Failure{EIO, "read", path_};
            }
        }
        ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
        if (got < 0) {
            return Errno("read", path_);
        }
        if (got == 0) {
            return Failure{0, "read all of (it shrank while it was read)", path_};
        }
        bytes += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return Status::Done();
}

Result<std::uint64_t> InputFile::Size() const {
    return SizeOfFd(Fd(handle_.Get()), path_);
}

Result<FileId> InputFile::Id() const {
    return IdOfFd(Fd(handle_.Get()), path_);
}

Failure RandomAccessFile::Remember(Failure failure) const {
    firstFailure_->Offer(failure);
    return failure;
}

Result<RandomAccessFile> RandomAccessFile::OpenForReading(const std::string& path) {
    int fd = OpenTracked(Posix(path), O_RDONLY);
    if (fd < 0) {
        return Errno("open", path);
    }
    return RandomAccessFile(UniqueFile(ToHandle(fd)), path);
}

Result<std::size_t> RandomAccessFile::ReadSomeAt(std::uint64_t offset, void* buffer,
                                                 std::size_t size) const {
    auto read = ReadTracked(Fd(handle_.Get()), buffer, size, offset);
    if (!read) {
        return Remember(read.Why());
    }
    return read;
}

Status RandomAccessFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t got = pread(Fd(handle_.Get()), bytes, size, static_cast<off_t>(offset));
        if (got <= 0) {
            return Remember(got < 0 ? Errno("read back", path_) : Failure{0, "read back", path_});
        }
        bytes += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return Status::Done();
}

Status RandomAccessFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    {
        std::lock_guard lock(Get().mutex);
        if (Get().writesLeft < size) {
            Get().writesLeft = 0;
            return Remember(Failure{ENOSPC, "write", path_});
        }
        if (Get().writesLeft != UINT64_MAX) {
            Get().writesLeft -= size;
        }
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ssize_t written = pwrite(Fd(handle_.Get()), bytes, size, static_cast<off_t>(offset));
        if (written < 0) {
            return Remember(Errno("write", path_));
        }
        // Nothing written and no error: errno holds whatever came before.
        if (written == 0) {
            return Remember(Failure{EIO, "write", path_});
        }
        bytes += written;
        offset += static_cast<std::uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
    return Status::Done();
}

Result<std::uint64_t> RandomAccessFile::Size() const {
    Result<std::uint64_t> size = SizeOfFd(Fd(handle_.Get()), path_);
    if (!size) {
        return Remember(size.Why());
    }
    return size;
}

Result<FileId> RandomAccessFile::Id() const {
    return IdOfFd(Fd(handle_.Get()), path_);
}

Status RandomAccessFile::SetBasicInfo(std::uint32_t attributes, std::optional<std::uint64_t>) {
    Status set = sys::SetAttributes(path_, attributes);
    return set ? set : Status(Remember(set.Why()));
}

Status RandomAccessFile::FlushToDisk() {
    if (fsync(Fd(handle_.Get())) != 0) {
        return Remember(Errno("flush", path_));
    }
    return Status::Done();
}

Status RandomAccessFile::Close() {
    if (!handle_.Reset()) {
        return Remember(Errno("close", path_));
    }
    return Status::Done();
}

Result<NewFile> CreateUniqueFile(const std::string& prefix, const std::string& suffix,
                                 std::uint32_t attributes) {
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name =
            prefix + std::to_string(getpid()) + "-" + std::to_string(serial++) + suffix;
        int fd = OpenTracked(Posix(name), O_RDWR | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            RandomAccessFile file(UniqueFile(ToHandle(fd)), name);
            // A temporary that is not what it was asked to be is no temporary.
            if (Status set = SetAttributes(name, attributes); !set) {
                file.Close();
                unlink(Posix(name).c_str());
                return set.Why();
            }
            return NewFile{name, std::move(file)};
        }
        if (errno != EEXIST) {
            return Errno("create", name);
        }
    }
    return Failure{EEXIST, "create", prefix};
}

Result<std::uint32_t> GetAttributes(const std::string& path) {
    std::string posixPath = Posix(path);
    struct stat status {};
    if (stat(posixPath.c_str(), &status) != 0) {
        return Errno("read the attributes of", path);
    }
    return AttributesOf(posixPath, status);
}

bool IsAbsent(const Failure& failure) {
    return failure.code == ENOENT || failure.code == ENOTDIR;
}

Status SetAttributes(const std::string& path, std::uint32_t attributes) {
    std::string posixPath = Posix(path);
    struct stat status {};
    if (stat(posixPath.c_str(), &status) != 0) {
        return Errno("set the attributes of", path);
    }
    mode_t mode = (attributes & kAttributeReadOnly) != 0 ? (status.st_mode & ~0222)
                                                         : (status.st_mode | S_IWUSR);
    if (chmod(posixPath.c_str(), mode) != 0) {
        return Errno("set the attributes of", path);
    }
    std::lock_guard lock(Get().mutex);
    Get().attributes[posixPath] = attributes & (kAttributeHidden | kAttributeSystem);
    return Status::Done();
}

Result<std::uint64_t> GetCreationTime(const std::string& path) {
    struct stat status {};
    if (stat(Posix(path).c_str(), &status) != 0) {
        return Errno("read the times of", path);
    }
    return ToFileTime(status.st_ctim);
}

Status RandomAccessFile::MoveOver(const std::string& to) {
    std::string source = Posix(path_);
    std::string target = Posix(to);
    {
        std::lock_guard lock(Get().mutex);
        auto fails = Get().movesFailOnto.find(target);
        if (fails != Get().movesFailOnto.end() && MonotonicMs() < fails->second.untilMs) {
            return Failure{fails->second.code, "replace", to};
        }
    }
    if (rename(source.c_str(), target.c_str()) != 0) {
        return Errno("replace", to);
    }
    std::lock_guard lock(Get().mutex);
    auto attributes = Get().attributes.extract(source);
    Get().attributes.erase(target);
    if (attributes) {
        attributes.key() = target;
        Get().attributes.insert(std::move(attributes));
    }
    path_ = to;
    return Status::Done();
}

Status MoveToFreeName(const std::string& from, const std::string& to) {
    std::string source = Posix(from);
    std::string target = Posix(to);
    if (link(source.c_str(), target.c_str()) != 0) {
        return Errno("rename to", to);
    }
    // The file is under its new name now; one left under both names too
    // would be no move.
    if (unlink(source.c_str()) != 0) {
        return Errno("rename from", from);
    }
    return Status::Done();
}

Status RemoveFile(const std::string& path) {
    if (unlink(Posix(path).c_str()) != 0) {
        return Errno("delete", path);
    }
    return Status::Done();
}

Result<LockFile> LockFile::Acquire(const std::string& path, unsigned timeoutMs) {
    std::string posixPath = Posix(path);
    for (unsigned waited = 0;; waited += 50) {
        int fd = OpenTracked(posixPath, O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd >= 0) {
            // A new file: nobody else holds it yet. Unlocked, it would be
            // taken for an orphan by the next run.
            UniqueFile owned(ToHandle(fd));
            struct stat status {};
            if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &status) != 0) {
                Failure failure = Errno("lock", path);
                unlink(posixPath.c_str());
                return failure;
            }
            {
                std::lock_guard lock(Get().mutex);
                Get().deleteOnClose.insert(fd);
            }
            LockFile file{std::move(owned)};
            file.id_ = IdOf(status);
            return file;
        }
        // A file nobody holds locked is an orphan and goes.
        int existing = open(posixPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (existing >= 0) {
            if (flock(existing, LOCK_EX | LOCK_NB) == 0) {
                unlink(posixPath.c_str());
                close(existing);
                continue;
            }
            close(existing);
        }
        if (waited >= timeoutMs) {
            return Failure{ETIMEDOUT, "wait for the lock", path};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace kelzar::sys
