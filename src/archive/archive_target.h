// The place an archive is written to. A new archive is built in a hidden
// temporary file beside the target, read back whole, and moved over the
// target in one step only when it is complete and sound, so the file at the
// target is always either the old archive or the complete new one. A lock
// file beside the target keeps two runs from rebuilding the same archive at
// once, however each of them spells its path.
#pragma once

#include "archive/carry_over.h"
#include "archive/report.h"
#include "archive/trailing_check.h"
#include "archive/zip_files.h"
#include "archive/zip_writer.h"
#include "sys/files.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelzar {

class ArchiveTarget {
  public:
    // Checks the target and takes its lock; nothing when the archive must not
    // or cannot be written (a wildcard in its path, read-only, a folder, or
    // another run holding it longer than the lock wait). Why goes to `report`,
    // which must outlive the target.
    static std::unique_ptr<ArchiveTarget> Claim(const std::string& zipfilePath, RunReport& report);
    ArchiveTarget(const ArchiveTarget&) = delete;
    ArchiveTarget& operator=(const ArchiveTarget&) = delete;
    ~ArchiveTarget();

    const std::string& Path() const { return path_; }
    // Where whatever goes wrong in this run is told.
    RunReport& Report() { return report_; }
    bool Exists() const { return existing_.has_value(); }

    // Starts a new temporary archive, dropping any begun before; nothing when
    // it cannot be created.
    ZipWriter* BeginTemporary();
    // What reads the temporary archive's new entries back while it is
    // written (entries not given to it are read back at the commit); none
    // in a build that does not read back.
    TrailingCheck* Check() { return check_.get(); }
    // Has the check read back what has reached the file; a failure goes to
    // the report.
    bool ReadBackWritten();
    // Has `carryOver` write the old archive's entries into the temporary
    // archive begun, and reads each back on a thread of its own as soon as
    // it has reached the file, while the copy goes on.
    Status CarryOverInto(const CarryOver& carryOver);
    // Finishes the temporary archive, reads it back, and puts it in the
    // target's place with what the old archive had of its own: attributes,
    // creation time and access rules.
    bool Commit();

    // What first failed in writing the temporary archive, if anything did.
    std::optional<Failure> TemporaryFailure() const {
        return temporary_ ? temporary_->file.FirstFailure() : std::nullopt;
    }

    // True for the files that belong to this run's bookkeeping (the archive
    // itself, its temporary and its lock), which are never archived.
    bool IsOwnFile(const sys::FileId& id) const;
    // Whether a file of this name may be one of them, so that only such
    // files need their identity asked (which costs more than the rest of a
    // file's handling together under some systems).
    bool MayBeOwnFile(const std::string& name) const;

  private:
    struct Existing {
        std::uint32_t attributes = 0;
        std::optional<std::uint64_t> creationUtc;
    };

    ArchiveTarget(std::string path, std::string canonicalName, std::string bookkeepingPrefix,
                  sys::LockFile lock, RunReport& report);
    std::optional<sys::NewFile> CreateOwnTemporary();
    void DropTemporary();
    void DropSpool();
    void RemoveStaleTemporaries();
    bool Fail(const Failure& failure);
    bool Verify();
    bool ReplaceTarget();

    std::string path_;
    std::string canonicalName_;
    // Folder and mark that the lock and temporaries of this archive share,
    // the same for every spelling of its path.
    std::string bookkeepingPrefix_;
    sys::LockFile lock_;
    RunReport& report_;
    std::optional<Existing> existing_;
    std::vector<sys::FileId> ownFiles_;
    // The temporary is held open from its creation to the flush before the
    // move: no other program can slip in between, and it is never opened
    // twice.
    std::optional<sys::NewFile> temporary_;
    WrittenReach reach_;
    std::unique_ptr<ByteSource> reached_; // the temporary, as far as written
    std::unique_ptr<TrailingCheck> check_;
    // The central directory of the archive being written, until it is put
    // after the last entry.
    std::optional<sys::NewFile> spool_;
    std::unique_ptr<SpooledArchive> spooled_;
    std::unique_ptr<ZipWriter> writer_;
};

} // namespace kelzar
