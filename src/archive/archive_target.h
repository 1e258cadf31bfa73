// The place an archive is written to. A new archive is built in a hidden
// temporary file beside the target and moved over it in one step only when
// it is complete, so the file at the target is always either the old archive
// or the complete new one. A lock file beside the target keeps two runs
// from rebuilding the same archive at once.
#pragma once

#include "archive/zip_writer.h"
#include "win32/system.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelzar {

class ArchiveTarget {
  public:
    // Checks the target and takes its lock; nothing when the archive must not
    // or cannot be written (a wildcard in its path, read-only, a folder, or
    // another run holding it longer than the lock wait).
    static std::unique_ptr<ArchiveTarget> Claim(const std::string& zipfilePath);
    ArchiveTarget(const ArchiveTarget&) = delete;
    ArchiveTarget& operator=(const ArchiveTarget&) = delete;
    ~ArchiveTarget();

    const std::string& Path() const { return path_; }
    bool Exists() const { return existingAttributes_.has_value(); }

    // Starts a new temporary archive, dropping any begun before; nothing when
    // it cannot be created.
    ZipWriter* BeginTemporary();
    // Finishes the temporary archive and puts it in the target's place.
    bool Commit();

    // True for the files that belong to this run's bookkeeping (the archive
    // itself, its temporary and its lock), which are never archived.
    bool IsOwnFile(const sys::FileId& id) const;

  private:
    ArchiveTarget(std::string path, sys::LockFile lock);
    void DropTemporary();
    void RemoveStaleTemporaries();

    std::string path_;
    sys::LockFile lock_;
    std::optional<std::uint32_t> existingAttributes_;
    std::vector<sys::FileId> ownFiles_;
    // The temporary is held open from its creation to the flush before the
    // move: no other program can slip in between, and it is never opened
    // twice.
    std::optional<sys::NewFile> temporary_;
    std::unique_ptr<ZipWriter> writer_;
};

} // namespace kelzar
