// The program's narrow window onto the system: files, folders, the command
// line. Every text crossing it is UTF-8; the Windows implementation
// (system.cpp) converts to UTF-16 right at each call and uses the
// wide-character API, so names outside the ANSI code page and paths of any
// length are handled as Windows has them. Nothing above this layer calls the
// system itself, and this header needs no system header: the native unit
// tests link a POSIX implementation of it instead.
#pragma once

#include "common/calendar_time.h"
#include "win32/unique_handle.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelzar::sys {

constexpr std::uint32_t kAttributeReadOnly = 0x1;
constexpr std::uint32_t kAttributeHidden = 0x2;
constexpr std::uint32_t kAttributeSystem = 0x4;
constexpr std::uint32_t kAttributeDirectory = 0x10;

// Done first in every run: no system message box (a drive without a disk,
// say) may ever wait for a click in a batch job.
void PrepareProcess();

struct DirEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWriteUtc = 0; // FILETIME as one number

    bool Has(std::uint32_t attribute) const { return (attributes & attribute) != 0; }
    bool IsDotEntry() const { return name == "." || name == ".."; }
};

struct Listing {
    std::vector<DirEntry> entries; // in the order the system lists them
    // The folder could not be searched (missing names aside: a folder that
    // does not exist, no access, a broken path), or the search broke off
    // part-way: entries may be missing.
    bool failed = false;
};

// What the system's directory search reports for a pattern whose last
// component may hold "*" and "?".
Listing ListEntries(const std::string& pattern);

// Identifies a file or folder whatever path names it.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

// Of a file or a folder, through any links on the way.
std::optional<FileId> GetFileId(const std::string& path);

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
    static std::optional<InputFile> Open(const std::string& path);

    // Bytes read (0 at the end), or nothing when the read failed.
    std::optional<std::size_t> Read(void* buffer, std::size_t size);
    std::uint64_t Size() const { return size_; }
    FileId Id() const { return id_; }
    // The last-write time in the local time of this run.
    CalendarTime LastWriteLocal() const { return lastWriteLocal_; }

  private:
    explicit InputFile(UniqueFile handle) : handle_(std::move(handle)) {}
    UniqueFile handle_;
    std::uint64_t size_ = 0;
    FileId id_;
    CalendarTime lastWriteLocal_;
};

// A file read and written at positions of its own choosing: an archive.
class RandomAccessFile {
  public:
    // An existing archive, for reading; others may read it too, and rename or
    // delete it, but not write it meanwhile.
    static std::optional<RandomAccessFile> OpenForReading(const std::string& path);

    std::optional<std::size_t> Read(void* buffer, std::size_t size);
    // All of the bytes, or false.
    bool Write(const void* data, std::size_t size);
    bool SeekTo(std::uint64_t offset);
    std::optional<std::uint64_t> Position() const;
    std::optional<std::uint64_t> Size() const;
    std::optional<FileId> Id() const;
    // Attributes set through the handle, so that nothing else has to open
    // the file meanwhile.
    bool SetAttributes(std::uint32_t attributes);
    // Every byte written so far on the disk.
    bool FlushToDisk();
    // Closing can fail (the last cached bytes are written then).
    bool Close() { return handle_.Reset(); }
    bool IsOpen() const { return handle_.Valid(); }

    explicit RandomAccessFile(UniqueFile handle) : handle_(std::move(handle)) {}

  private:
    UniqueFile handle_;
};

// A new, empty file whose name is prefix, a unique part and suffix, with the
// given attributes, held open for reading and writing without sharing.
struct NewFile {
    std::string name;
    RandomAccessFile file;
};
std::optional<NewFile> CreateUniqueFile(const std::string& prefix, const std::string& suffix,
                                        std::uint32_t attributes);

// Attributes of an existing path; nothing when it does not exist.
std::optional<std::uint32_t> GetAttributes(const std::string& path);
bool SetAttributes(const std::string& path, std::uint32_t attributes);
// Puts from in the place of to in one step, replacing what stood there.
bool MoveOver(const std::string& from, const std::string& to);
// Gives from the name to, only when nothing stands under that name yet (in
// any letter case); false when something does or the move failed.
bool MoveToFreeName(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

// A lock file held open without sharing; the system deletes it when the
// holder closes it or dies.
class LockFile {
  public:
    // Waits up to timeoutMs for the lock; nothing when it stays taken.
    static std::optional<LockFile> Acquire(const std::string& path, unsigned timeoutMs);
    FileId Id() const { return id_; }

  private:
    explicit LockFile(UniqueFile handle) : handle_(std::move(handle)) {}
    UniqueFile handle_;
    FileId id_;
};

// A UTC file time as local short date, two spaces, and 24-hour time without
// seconds, in the user's regional forms.
std::string FormatFileTime(std::uint64_t utcFileTime);

// The name in the system's ANSI code page, when that code page holds every
// one of its characters exactly (no look-alike, no default character).
std::optional<std::string> ToAnsiExactly(const std::string& name);

std::string GetCommandLineText();
std::string GetExeFilePath();

} // namespace kelzar::sys
