#include "archive/archive_target.h"

#include "archive/zip_files.h"
#include "select/path.h"

#include <algorithm>

namespace kelzar {

namespace {
constexpr unsigned kLockWaitMs = 60 * 1000;
const char* const kTemporaryMark = ".~kz";
const char* const kTemporarySuffix = ".tmp";
const char* const kLockSuffix = ".~kzlock";
// The lock file beside the archive, its name in lower case: runs that spell
// the archive's name in other letter cases must meet at one lock file, also
// where the file system only emulates case-insensitive names and two new
// files differing in case could both be created at once.
std::string LockPathOf(const std::string& zipfilePath) {
    std::string folder = GetListingFolder(zipfilePath);
    std::string name = zipfilePath.substr(folder.size());
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folder + name + kLockSuffix;
}

} // namespace

std::unique_ptr<ArchiveTarget> ArchiveTarget::Claim(const std::string& zipfilePath) {
    // A wildcard cannot name one archive; read-only archives are not replaced
    // (checked here, since some systems would let the final move replace them).
    if (HasWildcards(zipfilePath)) {
        return nullptr;
    }
    auto attributes = sys::GetAttributes(zipfilePath);
    if (attributes && (*attributes & (sys::kAttributeReadOnly | sys::kAttributeDirectory))) {
        return nullptr;
    }
    auto lock = sys::LockFile::Acquire(LockPathOf(zipfilePath), kLockWaitMs);
    if (!lock) {
        return nullptr;
    }
    std::unique_ptr<ArchiveTarget> target(new ArchiveTarget(zipfilePath, std::move(*lock)));
    // Read again under the lock: another run may have replaced the archive.
    target->existingAttributes_ = sys::GetAttributes(zipfilePath);
    if (target->existingAttributes_ &&
        (*target->existingAttributes_ & (sys::kAttributeReadOnly | sys::kAttributeDirectory))) {
        return nullptr;
    }
    if (auto id = sys::GetFileId(zipfilePath)) {
        target->ownFiles_.push_back(*id);
    }
    target->RemoveStaleTemporaries();
    return target;
}

ArchiveTarget::ArchiveTarget(std::string path, sys::LockFile lock)
    : path_(std::move(path)), lock_(std::move(lock)) {
    ownFiles_.push_back(lock_.Id());
}

ArchiveTarget::~ArchiveTarget() {
    DropTemporary();
}

void ArchiveTarget::RemoveStaleTemporaries() {
    // Only a run holding the lock writes temporaries of this archive, so any
    // found now were left by a run that was killed.
    std::string folder = GetListingFolder(path_);
    for (const sys::DirEntry& entry :
         sys::ListEntries(path_ + kTemporaryMark + "*" + kTemporarySuffix).entries) {
        if (!entry.Has(sys::kAttributeDirectory)) {
            sys::RemoveFile(folder + entry.name);
        }
    }
}

ZipWriter* ArchiveTarget::BeginTemporary() {
    DropTemporary();
    // Hidden from its creation, so that no other run's listing picks it up.
    temporary_ =
        sys::CreateUniqueFile(path_ + kTemporaryMark, kTemporarySuffix, sys::kAttributeHidden);
    if (!temporary_) {
        return nullptr;
    }
    if (auto id = temporary_->file.Id()) {
        ownFiles_.push_back(*id);
    }
    writer_ = std::make_unique<ZipWriter>(CreateZipArchive(temporary_->file));
    return writer_->IsOpen() ? writer_.get() : nullptr;
}

bool ArchiveTarget::Commit() {
    if (!temporary_ || !writer_ || !writer_->Close()) {
        return false;
    }
    writer_.reset();
    // The new archive takes the attributes the old one had.
    sys::RandomAccessFile& file = temporary_->file;
    if (!file.SetAttributes(existingAttributes_.value_or(0)) || !file.FlushToDisk() ||
        !file.Close() || !sys::MoveOver(temporary_->name, path_)) {
        return false;
    }
    temporary_.reset();
    return true;
}

void ArchiveTarget::DropTemporary() {
    writer_.reset(); // before the file it writes into is closed
    if (temporary_) {
        temporary_->file.Close();
        sys::RemoveFile(temporary_->name);
        temporary_.reset();
    }
}

bool ArchiveTarget::IsOwnFile(const sys::FileId& id) const {
    return std::find(ownFiles_.begin(), ownFiles_.end(), id) != ownFiles_.end();
}

} // namespace kelzar
