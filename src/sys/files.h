// The program's narrow window onto the system, in headers by concern: files
// (here), folder listings (sys/walk.h), threads (sys/threads.h), the text
// forms of the user's locale (sys/text.h) and the process (sys/process.h).
// Every text crossing it is UTF-8; the Windows implementation (the
// sys/*_win32.cpp files) converts to UTF-16 right at each call and uses the
// wide-character API, so names outside the ANSI code page and paths of any
// length are handled as Windows has them. A call that fails says why: the
// system's error code and the path, in a Failure. Nothing above this layer
// calls the system itself, and these headers need no system header: the
// native unit tests link a POSIX implementation of them instead (the
// sys/*_posix.cpp files).
#pragma once

#include "common/first_failure.h"
#include "common/result.h"
#include "sys/threads.h"
#include "sys/unique_handle.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kelzar::sys {

constexpr std::uint32_t kAttributeReadOnly = 0x1;
constexpr std::uint32_t kAttributeHidden = 0x2;
constexpr std::uint32_t kAttributeSystem = 0x4;
constexpr std::uint32_t kAttributeDirectory = 0x10;

// Identifies a file or folder whatever path names it: its volume's serial
// number and its 128-bit id there (file systems such as ReFS need all 128
// bits; on others the high half is 0).
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t indexHigh = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

// Of a file or a folder, through any links on the way.
Result<FileId> GetFileId(const std::string& path);

// The file's or folder's index on its volume, without the volume: cheap
// where the whole identity is not (asking a volume its serial number goes
// through a device driver under some systems). Equal indexes on two volumes
// are possible; GetFileId tells such files apart.
Result<std::uint64_t> GetFileIndex(const std::string& path);

// The last component of an existing path as the file system names it: its
// long form (not an 8.3 alias), without the trailing dots and spaces the
// system drops, upper-cased as the file system compares names. For a path
// that does not exist yet, the same of the name as given. Two spellings of
// one file in one folder give the same text.
Result<std::string> CanonicalName(const std::string& path);

// A folder as a full path in its long form, ending in a separator: "d:" is
// the current folder of drive d:, the empty text the working folder, and no
// "." or ".." is left. Joined with names the folder's listing yields, it
// names the files found, whichever way the folder was spelt, exactly as
// listed (under Windows, it is given in the "\\?\" form).
Result<std::string> FullFolderPath(const std::string& folder);

struct FileHandleTraits {
    using Handle = void*;
    static Handle Invalid();
    static bool Close(Handle handle);
};
using UniqueFile = UniqueResource<FileHandleTraits>;

// A file opened for reading that other programs may go on reading, writing
// and deleting.
class InputFile {
  public:
    static Result<InputFile> Open(const std::string& path);

    // The size the file has now, asked through the handle: a folder listing
    // can report a size that lags behind the file's (a file another program
    // is writing), so what is stored is measured here.
    Result<std::uint64_t> Size() const;
    // All of `size` bytes at `offset`, or a failure (also when the file ends
    // first); other threads may read the same file at the same time.
    Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const;
    // Asked only when needed: under some systems it costs more than the rest
    // of the file's handling together.
    Result<FileId> Id() const;
    const std::string& Path() const { return path_; }

  private:
    InputFile(UniqueFile handle, std::string path)
        : handle_(std::move(handle)), path_(std::move(path)),
          positionLock_(std::make_unique<Mutex>()) {}
    UniqueFile handle_;
    std::string path_;
    // Held while a read at an offset sets the position and reads (where
    // the system has no read at an offset that is cheap).
    std::unique_ptr<Mutex> positionLock_;
};

// A file read and written at positions of its own choosing: an archive. It
// remembers the first of its calls that failed, so that whoever finds the
// archive broken can say why.
class RandomAccessFile {
  public:
    // An existing archive, for reading; others may read it too, and rename or
    // delete it, but not write it meanwhile.
    static Result<RandomAccessFile> OpenForReading(const std::string& path);

    RandomAccessFile(UniqueFile handle, std::string path)
        : handle_(std::move(handle)), path_(std::move(path)),
          firstFailure_(std::make_unique<kelzar::FirstFailure>()),
          positionLock_(std::make_unique<Mutex>()) {}

    // Every read and write says where it goes and none relies on a position
    // of the file's own, so reads on other threads never move where the
    // next write lands.
    // Up to `size` bytes at `offset`: how many there were (0 at the end).
    Result<std::size_t> ReadSomeAt(std::uint64_t offset, void* buffer, std::size_t size) const;
    // All of `size` bytes at `offset`; other threads may read at the same time.
    Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const;
    // All of the bytes at `offset`, or a failure.
    Status WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    Result<std::uint64_t> Size() const;
    Result<FileId> Id() const;
    // Attributes and, when given, the creation time (a FILETIME), set through
    // the handle, so that nothing else has to open the file meanwhile.
    Status SetBasicInfo(std::uint32_t attributes, std::optional<std::uint64_t> creationUtc);
    // The access rules the file at `path` has of its own (not inherited from
    // its folder), given to this file; nothing is done when it has none.
    Status TakeExplicitAccessOf(const std::string& path);
    // Every byte written so far on the disk.
    Status FlushToDisk();
    // Puts this very file, through its handle, in the place of `to` in one
    // step, replacing what stood there: what was written and checked
    // through the handle is what gets the name, whatever else happens to
    // the file's old name meanwhile. The file stays open, under its new name.
    Status MoveOver(const std::string& to);
    // Closing can fail (the last cached bytes are written then).
    Status Close();
    bool IsOpen() const { return handle_.Valid(); }
    const std::string& Path() const { return path_; }
    // The first failure of any call on this file, from any thread.
    std::optional<Failure> FirstFailure() const { return firstFailure_->Get(); }

  private:
    Failure Remember(Failure failure) const;

    UniqueFile handle_;
    std::string path_;
    // Apart, so that the file stays movable; readers on several threads
    // record into it at once.
    std::unique_ptr<kelzar::FirstFailure> firstFailure_;
    // Held while a read or write at an offset sets the position and
    // transfers (where the system has no read at an offset that is cheap).
    std::unique_ptr<Mutex> positionLock_;
};

// A new, empty file whose name is prefix, a unique part and suffix, with the
// given attributes, held open for reading and writing without sharing.
struct NewFile {
    std::string name;
    RandomAccessFile file;
};
Result<NewFile> CreateUniqueFile(const std::string& prefix, const std::string& suffix,
                                 std::uint32_t attributes);

// Attributes of an existing path.
Result<std::uint32_t> GetAttributes(const std::string& path);
// Whether a failure says that the path is not there (neither it nor a
// folder on its way), as opposed to being there but out of reach.
bool IsAbsent(const Failure& failure);
Status SetAttributes(const std::string& path, std::uint32_t attributes);
// The creation time of an existing file (a FILETIME).
Result<std::uint64_t> GetCreationTime(const std::string& path);
// Gives from the name to, only when nothing stands under that name yet (in
// any letter case).
Status MoveToFreeName(const std::string& from, const std::string& to);
Status RemoveFile(const std::string& path);

// A lock file held open without sharing; the system deletes it when the
// holder closes it or dies.
class LockFile {
  public:
    // Waits up to timeoutMs for the lock; the failure says why it was not had.
    static Result<LockFile> Acquire(const std::string& path, unsigned timeoutMs);
    FileId Id() const { return id_; }

  private:
    explicit LockFile(UniqueFile handle) : handle_(std::move(handle)) {}
    UniqueFile handle_;
    FileId id_;
};

} // namespace kelzar::sys
