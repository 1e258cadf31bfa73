// The program's narrow window onto Win32: files, folders, the command line.
// Nothing outside src/win32 calls Win32 itself.
#pragma once

#include "archive/dos_time.h"
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

struct DirEntry {
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWriteUtc = 0; // FILETIME as one number

    bool Has(std::uint32_t attribute) const { return (attributes & attribute) != 0; }
    bool IsDotEntry() const { return name == "." || name == ".."; }
};

// What FindFirstFileA/FindNextFileA report for a search pattern, in their
// order; empty when nothing matches or the folder cannot be searched. When
// given, searchFailed tells the two apart (a missing folder, a path too
// long for the ANSI interface, no access).
std::vector<DirEntry> FindEntries(const std::string& pattern, bool* searchFailed = nullptr);

// Identifies a file whatever path names it.
struct FileId {
    std::uint32_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

// A file opened for reading that other programs may go on reading and writing.
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

// Attributes of an existing path; nothing when it does not exist.
std::optional<std::uint32_t> GetAttributes(const std::string& path);
bool SetAttributes(const std::string& path, std::uint32_t attributes);
std::optional<FileId> GetFileId(const std::string& path);

// A new, empty file whose name is prefix, a unique part and suffix, held
// open for writing without sharing.
struct NewFile {
    std::string name;
    UniqueFile handle;
};
std::optional<NewFile> CreateUniqueFile(const std::string& prefix, const std::string& suffix,
                                        std::uint32_t attributes);
bool FlushToDisk(const std::string& path);
// Puts from in the place of to in one step, replacing what stood there.
bool MoveOver(const std::string& from, const std::string& to);
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

std::string GetCommandLineText();
std::string GetExeFilePath();

} // namespace kelzar::sys
