#include "posix_system.h"

#include "common/utf.h"
#include "sys/files.h"
#include "sys/process.h"
#include "sys/text.h"
#include "sys/threads.h"
#include "sys/walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace kelzar {

namespace {

struct Controls {
    std::mutex mutex;
    std::map<std::string, std::size_t> listingFailsAfter;
    std::map<std::string, std::uint64_t> readsFailAfter;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unidentifiable; // (device, inode)
    struct MoveFault {
        std::uint32_t code;
        std::uint64_t untilMs; // monotonic time; the largest value for good
    };
    std::map<std::string, MoveFault> movesFailOnto;
    std::uint64_t writesLeft = UINT64_MAX;
    std::size_t threadsLeft = SIZE_MAX;              // threads RunInParallel may still start
    std::map<std::string, std::uint32_t> attributes; // hidden and system bits by path
    std::map<int, std::string> paths;                // what each open descriptor names
    std::map<int, std::uint64_t> readSoFar;
    std::set<int> deleteOnClose;
};

Controls& Get() {
    static Controls controls;
    return controls;
}

std::string Posix(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

int Fd(void* handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

void* ToHandle(int fd) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
}

std::uint64_t ToFileTime(const struct timespec& time) {
    constexpr std::uint64_t kEpochDifference = 11644473600ull; // 1601 to 1970, in seconds
    return (static_cast<std::uint64_t>(time.tv_sec) + kEpochDifference) * 10000000ull +
           static_cast<std::uint64_t>(time.tv_nsec) / 100;
}

std::string NameOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::uint32_t AttributesOf(const std::string& path, const struct stat& status) {
    std::uint32_t attributes = 0;
    if (S_ISDIR(status.st_mode)) {
        attributes |= sys::kAttributeDirectory;
    }
    if ((status.st_mode & S_IWUSR) == 0) {
        attributes |= sys::kAttributeReadOnly;
    }
    std::string name = NameOf(path);
    if (name.size() > 1 && name[0] == '.' && name != "..") {
        attributes |= sys::kAttributeHidden;
    }
    std::lock_guard lock(Get().mutex);
    auto set = Get().attributes.find(path);
    return set == Get().attributes.end() ? attributes : attributes | set->second;
}

bool Matches(const std::string& pattern, const std::string& name) {
    if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
        return true;
    }
    // On Windows "*.*" (and any pattern ending in ".*") also matches names
    // without a dot.
    return pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
           name.find('.') == std::string::npos &&
           fnmatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

CalendarTime LocalCalendar(time_t seconds) {
    struct tm fields {};
    localtime_r(&seconds, &fields);
    return CalendarTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                        fields.tm_hour,        fields.tm_min,     fields.tm_sec};
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

Failure Errno(const char* operation, const std::string& path) {
    return Failure{static_cast<std::uint32_t>(errno), operation, path};
}

Result<std::size_t> ReadTracked(int fd, void* buffer, std::size_t size) {
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
    ssize_t got = read(fd, buffer, size);
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

} // namespace

namespace posix {

void FailListingAfter(const std::string& folder, std::size_t entries) {
    std::lock_guard lock(Get().mutex);
    std::string key = folder;
    while (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    Get().listingFailsAfter[key] = entries;
}

void FailIdentityOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        std::lock_guard lock(Get().mutex);
        Get().unidentifiable.emplace_back(status.st_dev, status.st_ino);
    }
}

void FailReadsAfter(const std::string& path, std::uint64_t bytes) {
    std::lock_guard lock(Get().mutex);
    Get().readsFailAfter[path] = bytes;
}

void FailMovesOnto(const std::string& to, std::uint32_t code) {
    std::lock_guard lock(Get().mutex);
    Get().movesFailOnto[to] = {code, UINT64_MAX};
}

void HoldAgainstMovesFor(const std::string& to, unsigned ms) {
    std::uint64_t until = sys::MonotonicMs() + ms;
    std::lock_guard lock(Get().mutex);
    Get().movesFailOnto[to] = {EBUSY, until};
}

void FailWritesAfter(std::uint64_t bytes) {
    std::lock_guard lock(Get().mutex);
    Get().writesLeft = bytes;
}

void FailThreadsAfter(std::size_t threads) {
    std::lock_guard lock(Get().mutex);
    Get().threadsLeft = threads;
}

void Reset() {
    std::lock_guard lock(Get().mutex);
    Get().listingFailsAfter.clear();
    Get().readsFailAfter.clear();
    Get().unidentifiable.clear();
    Get().movesFailOnto.clear();
    Get().writesLeft = UINT64_MAX;
    Get().threadsLeft = SIZE_MAX;
    Get().attributes.clear();
}

} // namespace posix

namespace sys {

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

void PrepareProcess() {}

void DebugLog(const std::string&) {}

bool IsTransientHold(const Failure& failure) {
    return failure.code == EBUSY || failure.code == ETXTBSY;
}

Listing ListEntries(const std::string& pattern) {
    std::string path = Posix(pattern);
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string names = slash == std::string::npos ? path : path.substr(slash + 1);
    Listing listing;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        listing.failure = Errno("list", pattern);
        return listing;
    }
    std::vector<std::string> found;
    while (struct dirent* entry = readdir(dir)) {
        if (Matches(names, entry->d_name)) {
            found.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    std::string key = folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
    std::size_t limit = SIZE_MAX;
    {
        std::lock_guard lock(Get().mutex);
        auto fails = Get().listingFailsAfter.find(key);
        if (fails != Get().listingFailsAfter.end()) {
            limit = fails->second;
        }
    }
    for (const std::string& name : found) {
        if (listing.entries.size() == limit) {
            listing.failure = Failure{EIO, "list to the end", pattern};
            break;
        }
        struct stat status {};
        std::string full = folder + name;
        if (stat(full.c_str(), &status) != 0 && lstat(full.c_str(), &status) != 0) {
            continue;
        }
        listing.entries.push_back(DirEntry{name, AttributesOf(full, status),
                                           static_cast<std::uint64_t>(status.st_size),
                                           ToFileTime(status.st_mtim)});
    }
    return listing;
}

namespace {

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

Result<std::size_t> InputFile::Read(void* buffer, std::size_t size) {
    return ReadTracked(Fd(handle_.Get()), buffer, size);
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
    struct stat status {};
    if (fstat(Fd(handle_.Get()), &status) != 0) {
        return Errno("read the size of", path_);
    }
    return static_cast<std::uint64_t>(status.st_size);
}

Result<FileId> InputFile::Id() const {
    struct stat status {};
    if (fstat(Fd(handle_.Get()), &status) != 0) {
        return Errno("identify", path_);
    }
    return IdOf(status);
}

CalendarTime LocalCalendarOf(std::uint64_t utcFileTime) {
    return LocalCalendar(static_cast<time_t>(utcFileTime / 10000000ull) - 11644473600);
}

std::string UpperCase(const std::string& text) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return upper;
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

Result<std::size_t> RandomAccessFile::Read(void* buffer, std::size_t size) {
    auto read = ReadTracked(Fd(handle_.Get()), buffer, size);
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

Status RandomAccessFile::Write(const void* data, std::size_t size) {
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
        ssize_t written = write(Fd(handle_.Get()), bytes, size);
        if (written <= 0) {
            return Remember(Errno("write", path_));
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return Status::Done();
}

Status RandomAccessFile::SeekTo(std::uint64_t offset) {
    if (lseek(Fd(handle_.Get()), static_cast<off_t>(offset), SEEK_SET) < 0) {
        return Remember(Errno("seek in", path_));
    }
    return Status::Done();
}

Result<std::uint64_t> RandomAccessFile::Position() const {
    off_t at = lseek(Fd(handle_.Get()), 0, SEEK_CUR);
    if (at < 0) {
        return Remember(Errno("seek in", path_));
    }
    return static_cast<std::uint64_t>(at);
}

Result<std::uint64_t> RandomAccessFile::Size() const {
    struct stat status {};
    if (fstat(Fd(handle_.Get()), &status) != 0) {
        return Remember(Errno("read the size of", path_));
    }
    return static_cast<std::uint64_t>(status.st_size);
}

Result<FileId> RandomAccessFile::Id() const {
    struct stat status {};
    if (fstat(Fd(handle_.Get()), &status) != 0) {
        return Errno("identify", path_);
    }
    return IdOf(status);
}

Status RandomAccessFile::SetBasicInfo(std::uint32_t attributes, std::optional<std::uint64_t>) {
    Status set = sys::SetAttributes(path_, attributes);
    return set ? set : Status(Remember(set.Why()));
}

Status RandomAccessFile::TakeExplicitAccessOf(const std::string&) {
    return Status::Done(); // POSIX modes are not access rules of the Windows kind
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
            SetAttributes(name, attributes);
            return NewFile{name, RandomAccessFile(UniqueFile(ToHandle(fd)), name)};
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
    unlink(source.c_str());
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
            flock(fd, LOCK_EX | LOCK_NB); // a new file: nobody else holds it yet
            {
                std::lock_guard lock(Get().mutex);
                Get().deleteOnClose.insert(fd);
            }
            struct stat status {};
            fstat(fd, &status);
            LockFile file{UniqueFile(ToHandle(fd))};
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

std::string FormatFileTime(std::uint64_t utcFileTime) {
    auto seconds = static_cast<time_t>(utcFileTime / 10000000ull) - 11644473600;
    struct tm fields {};
    localtime_r(&seconds, &fields);
    char text[64];
    std::strftime(text, sizeof text, "%d/%m/%Y  %H:%M", &fields);
    return text;
}

std::optional<std::string> ToAnsiExactly(const std::string& name) {
    std::string latin1;
    for (char16_t unit : Utf8ToUtf16(name)) {
        if (unit >= 0x100 || (unit >= 0x80 && unit < 0xA0)) {
            return std::nullopt;
        }
        latin1.push_back(static_cast<char>(unit));
    }
    return latin1;
}

std::string GetCommandLineText() {
    return {};
}

std::uint64_t MonotonicMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

unsigned ProcessorCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

Status RunInParallel(unsigned count, const std::function<void(unsigned)>& work) {
    // As on Windows: every thread exists before any work starts.
    std::atomic<bool> cancelled{false};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::size_t allowed;
    {
        std::lock_guard lock(Get().mutex);
        allowed = Get().threadsLeft;
    }
    for (unsigned i = 1; i < count; ++i) {
        if (threads.size() >= allowed) {
            cancelled = true;
            break;
        }
        threads.emplace_back([&, i] {
            go.wait(false);
            if (!cancelled) {
                work(i);
            }
        });
    }
    go = true;
    go.notify_all();
    if (!cancelled && count > 0) {
        work(0);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return cancelled ? Status(Failure{EAGAIN, "start a thread for", "the run"}) : Status::Done();
}

struct Mutex::Impl {
    std::mutex mutex;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() {
    impl_->mutex.lock();
}
void Mutex::Unlock() {
    impl_->mutex.unlock();
}

struct ConditionVariable::Impl {
    std::condition_variable_any variable;
};

ConditionVariable::ConditionVariable() : impl_(std::make_unique<Impl>()) {}
ConditionVariable::~ConditionVariable() = default;
void ConditionVariable::Wait(Mutex& mutex) {
    impl_->variable.wait(mutex.impl_->mutex);
}
void ConditionVariable::WakeAll() {
    impl_->variable.notify_all();
}

std::string GetExeFilePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

} // namespace sys

} // namespace kelzar
