#include "archive/archive_target.h"

#include "archive/kept_check.h"
#include "archive/verify.h"
#include "archive/zip_files.h"
#include "common/text.h"
#include "common/variant.h"
#include "select/path.h"
#include "sys/files.h"
#include "sys/process.h"
#include "sys/text.h"
#include "sys/threads.h"
#include "sys/walk.h"

#include <algorithm>

namespace kelzar {

namespace {

constexpr unsigned kLockWaitMs = 60 * 1000;
// Another program (a viewer, an indexer, a scanner, a second run listing the
// folder) may hold the old archive open for a moment, and a rename onto an
// open file fails: the replacement is tried again for this long.
constexpr unsigned kReplaceWaitMs = 5 * 1000;
const char* const kMark = ".~kz";
const char* const kLockSuffix = ".lock";
const char* const kTemporarySuffix = ".tmp";
// What runs before the current naming left beside the archive.
const char* const kOldTemporaryMark = ".~kz";

// The lock and the temporaries of an archive are named by a digest of its
// canonical name, beside it: every spelling of the archive's path (an 8.3
// alias, another letter case, a trailing dot, another drive letter or a UNC
// path to the same folder) leads to the same folder and the same names.
std::string BookkeepingPrefixOf(const std::string& zipfilePath, const std::string& canonical) {
    return GetListingFolder(zipfilePath) + kMark + HexDigest(canonical);
}

// Reads the temporary archive back through the handle it was written with.
class FileBytes : public ByteSource {
  public:
    FileBytes(const sys::RandomAccessFile& file, std::uint64_t size) : file_(file), size_(size) {}
    Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override {
        return file_.ReadAt(offset, buffer, size);
    }
    std::uint64_t Size() const override { return size_; }

  private:
    const sys::RandomAccessFile& file_;
    std::uint64_t size_;
};

// The temporary archive while it is written: as much of it as has reached
// the file, read on any thread (each read and write says where it goes).
class ReachedBytes : public ByteSource {
  public:
    ReachedBytes(const sys::RandomAccessFile& file, const WrittenReach& reach)
        : file_(file), reach_(reach) {}
    Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override {
        return file_.ReadAt(offset, buffer, size);
    }
    std::uint64_t Size() const override { return reach_.bytes.load(std::memory_order_acquire); }

  private:
    const sys::RandomAccessFile& file_;
    const WrittenReach& reach_;
};

bool IsReadOnlyOrFolder(std::uint32_t attributes) {
    return (attributes & (sys::kAttributeReadOnly | sys::kAttributeDirectory)) != 0;
}

} // namespace

std::unique_ptr<ArchiveTarget> ArchiveTarget::Claim(const std::string& zipfilePath,
                                                    RunReport& report) {
    // A wildcard cannot name one archive; read-only archives are not replaced
    // (checked here, since some systems would let the final move replace them).
    if (HasWildcards(zipfilePath)) {
        report.Add("write an archive whose path holds a wildcard:", zipfilePath);
        return nullptr;
    }
    auto attributes = sys::GetAttributes(zipfilePath);
    if (attributes && IsReadOnlyOrFolder(*attributes)) {
        report.Add("replace a read-only file or a folder:", zipfilePath);
        return nullptr;
    }
    Result<std::string> canonical = sys::CanonicalName(zipfilePath);
    if (!canonical) {
        report.Add(canonical.Why());
        return nullptr;
    }
    const std::string prefix = BookkeepingPrefixOf(zipfilePath, *canonical);
    auto lock = sys::LockFile::Acquire(prefix + kLockSuffix, kLockWaitMs);
    if (!lock) {
        report.Add(lock.Why());
        return nullptr;
    }
    std::unique_ptr<ArchiveTarget> target(
        new ArchiveTarget(zipfilePath, *canonical, prefix, std::move(*lock), report));
    // Read again under the lock: another run may have replaced the archive.
    // Only "not there" means there is no old archive: one that is there but
    // cannot be examined (access denied, a network error) would otherwise be
    // replaced by an archive without its entries.
    attributes = sys::GetAttributes(zipfilePath);
    if (!attributes && !sys::IsAbsent(attributes.Why())) {
        report.Add(attributes.Why());
        return nullptr;
    }
    if (attributes) {
        if (IsReadOnlyOrFolder(*attributes)) {
            report.Add("replace a read-only file or a folder:", zipfilePath);
            return nullptr;
        }
        Result<std::uint64_t> created = sys::GetCreationTime(zipfilePath);
        target->existing_ =
            Existing{*attributes, created ? std::optional<std::uint64_t>(*created) : std::nullopt};
    }
    if (auto id = sys::GetFileId(zipfilePath)) {
        target->ownFiles_.push_back(*id);
    }
    target->RemoveStaleTemporaries();
    return target;
}

ArchiveTarget::ArchiveTarget(std::string path, std::string canonicalName,
                             std::string bookkeepingPrefix, sys::LockFile lock, RunReport& report)
    : path_(std::move(path)), canonicalName_(std::move(canonicalName)),
      bookkeepingPrefix_(std::move(bookkeepingPrefix)), lock_(std::move(lock)), report_(report) {
    ownFiles_.push_back(lock_.Id());
}

ArchiveTarget::~ArchiveTarget() {
    DropTemporary();
}

void ArchiveTarget::RemoveStaleTemporaries() {
    // Only a run holding the lock writes temporaries of this archive, so any
    // found now were left by a run that was killed.
    const std::string folder = GetListingFolder(path_);
    for (const std::string& pattern : {bookkeepingPrefix_ + "-*" + kTemporarySuffix,
                                       path_ + kOldTemporaryMark + "*" + kTemporarySuffix}) {
        for (const sys::DirEntry& entry : sys::ListEntries(pattern).entries) {
            if (!entry.Has(sys::kAttributeDirectory)) {
                sys::RemoveFile(folder + entry.name);
            }
        }
    }
}

bool ArchiveTarget::Fail(const Failure& failure) {
    report_.Add(failure);
    return false;
}

// Hidden from its creation, so that no other run's listing picks it up,
// and one of this run's own files, which are never archived.
std::optional<sys::NewFile> ArchiveTarget::CreateOwnTemporary() {
    Result<sys::NewFile> created =
        sys::CreateUniqueFile(bookkeepingPrefix_ + "-", kTemporarySuffix, sys::kAttributeHidden);
    if (!created) {
        Fail(created.Why());
        return std::nullopt;
    }
    if (auto id = created->file.Id()) {
        ownFiles_.push_back(*id);
    }
    return std::move(*created);
}

ZipWriter* ArchiveTarget::BeginTemporary() {
    DropTemporary();
    temporary_ = CreateOwnTemporary();
    if (!temporary_) {
        return nullptr;
    }
    reach_.bytes = 0;
    if (variant::VerifiesBeforeCommit()) {
        reached_ = std::make_unique<ReachedBytes>(temporary_->file, reach_);
        check_ = std::make_unique<TrailingCheck>(*reached_);
    }
    // The central directory waits in a file of its own, not in memory.
    spool_ = CreateOwnTemporary();
    if (!spool_) {
        return nullptr;
    }
    spooled_ = std::make_unique<SpooledArchive>(temporary_->file, &reach_, spool_->file);
    writer_ = std::make_unique<ZipWriter>(spooled_->Create(), spooled_.get());
    if (!writer_->IsOpen()) {
        Fail(temporary_->file.FirstFailure().value_or(
            Failure{0, "start an archive in", temporary_->name}));
        return nullptr;
    }
    return writer_.get();
}

Status ArchiveTarget::CarryOverInto(const CarryOver& carryOver) {
    ZipWriter& writer = *writer_;
    if (!check_) {
        return carryOver(writer, [] { return true; });
    }
    KeptCheck kept(*reached_);
    Status carried;
    // The copy goes on on this thread, the writer's.
    Status ran = sys::RunInParallel(2, [&](unsigned part) {
        if (part == 1) {
            kept.Run();
            return;
        }
        carried = carryOver(writer, [&] {
            return kept.Follow(writer.Written().Count() - 1, writer.LastWritten(),
                               writer.Written());
        });
        kept.Stop();
    });
    if (!ran) {
        return ran;
    }
    // An entry found unsound is why the copy stopped, if it did.
    if (Status checked = kept.Finish(writer.Written()); !checked) {
        Failure failure = checked.Why();
        failure.path = temporary_->name;
        return failure;
    }
    return carried;
}

bool ArchiveTarget::ReadBackWritten() {
    if (!check_) {
        return true;
    }
    Status checked = check_->Advance(writer_->Written());
    if (!checked) {
        Failure failure = checked.Why();
        failure.path = temporary_->name;
        return Fail(failure);
    }
    return true;
}

bool ArchiveTarget::Verify() {
    if (!variant::VerifiesBeforeCommit()) {
        return true;
    }
    sys::RandomAccessFile& file = temporary_->file;
    Result<std::uint64_t> size = file.Size();
    if (!size) {
        return Fail(size.Why());
    }
    WrittenEntries written = writer_->ReleaseWritten();
    Status verified = check_ ? check_->Finish(written) : Status::Done();
    if (verified) {
        verified =
            VerifyArchive(FileBytes(file, *size), written, std::min(sys::ProcessorCount(), 8u));
    }
    if (!verified) {
        Failure failure = verified.Why();
        failure.path = temporary_->name;
        return Fail(failure);
    }
    return true;
}

bool ArchiveTarget::ReplaceTarget() {
    const std::uint64_t start = sys::MonotonicMs();
    unsigned pause = 10;
    for (;;) {
        // Made read-only meanwhile: Windows would refuse for as long as it is.
        auto attributes = sys::GetAttributes(path_);
        if (attributes && IsReadOnlyOrFolder(*attributes)) {
            return Fail(Failure{0, "replace a read-only file or a folder:", path_});
        }
        Status moved = temporary_->file.MoveOver(path_);
        if (moved) {
            return true;
        }
        if (!sys::IsTransientHold(moved.Why()) || sys::MonotonicMs() - start >= kReplaceWaitMs) {
            return Fail(moved.Why());
        }
        sys::SleepMs(pause);
        pause = std::min(pause * 2, 500u);
    }
}

bool ArchiveTarget::Commit() {
    if (!temporary_ || !writer_) {
        return false;
    }
    if (!writer_->Close()) {
        return Fail(temporary_->file.FirstFailure().value_or(spool_->file.FirstFailure().value_or(
            Failure{0, "finish the archive in", temporary_->name})));
    }
    if (!Verify()) {
        return false;
    }
    writer_.reset();
    check_.reset();
    reached_.reset();
    DropSpool();
    // The temporary was made hidden so that no other run archives it; the new
    // archive takes what the old one had of its own.
    sys::RandomAccessFile& file = temporary_->file;
    std::uint32_t attributes = existing_ ? existing_->attributes : 0;
    std::optional<std::uint64_t> created = existing_ ? existing_->creationUtc : std::nullopt;
    Status done = file.SetBasicInfo(attributes, created);
    if (done && existing_) {
        done = file.TakeExplicitAccessOf(path_);
    }
    if (done) {
        done = file.FlushToDisk();
    }
    if (!done) {
        return Fail(done.Why());
    }
    // Renamed through the handle that wrote and checked it, and closed only
    // then: no other program can have the file between the check and the
    // rename.
    if (!ReplaceTarget()) {
        return false;
    }
    done = file.Close();
    temporary_.reset();
    return done || Fail(done.Why());
}

void ArchiveTarget::DropSpool() {
    spooled_.reset();
    if (spool_) {
        spool_->file.Close();
        sys::RemoveFile(spool_->name);
        spool_.reset();
    }
}

void ArchiveTarget::DropTemporary() {
    writer_.reset(); // before the files it writes into are closed
    check_.reset();
    reached_.reset();
    DropSpool();
    if (temporary_) {
        temporary_->file.Close();
        sys::RemoveFile(temporary_->name);
        temporary_.reset();
    }
}

bool ArchiveTarget::MayBeOwnFile(const std::string& name) const {
    // The lock and the temporaries all begin with the mark; the archive has
    // its canonical name whatever spelling reached it.
    std::string upper = sys::UpperCase(name);
    return upper == canonicalName_ || upper.rfind(sys::UpperCase(kMark), 0) == 0;
}

bool ArchiveTarget::IsOwnFile(const sys::FileId& id) const {
    return std::find(ownFiles_.begin(), ownFiles_.end(), id) != ownFiles_.end();
}

} // namespace kelzar
