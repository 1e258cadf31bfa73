#include "archive/archive_target.h"

#include "select/path.h"
#include "win32/zip_files.h"

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
         sys::FindEntries(path_ + kTemporaryMark + "*" + kTemporarySuffix)) {
        if (!entry.Has(sys::kAttributeDirectory)) {
            sys::RemoveFile(folder + entry.name);
        }
    }
}

ZipWriter* ArchiveTarget::BeginTemporary() {
    DropTemporary();
    auto temporary = sys::CreateUniqueFile(path_ + kTemporaryMark, kTemporarySuffix, 0);
    if (!temporary) {
        return nullptr;
    }
    temporaryPath_ = temporary->name;
    temporary->handle.Reset(); // minizip opens it anew
    if (auto id = sys::GetFileId(temporaryPath_)) {
        ownFiles_.push_back(*id);
    }
    writer_ = std::make_unique<ZipWriter>(sys::CreateZipFile(temporaryPath_));
    // Hidden only once minizip has it open: creating over a hidden file fails
    // on Windows. Hidden, no other run's listing picks it up.
    if (!writer_->IsOpen() || !sys::SetAttributes(temporaryPath_, sys::kAttributeHidden)) {
        return nullptr;
    }
    return writer_.get();
}

bool ArchiveTarget::Commit() {
    if (!writer_ || !writer_->Close()) {
        return false;
    }
    // The temporary was made hidden so that no other run archives it; the new
    // archive takes the attributes the old one had.
    if (!sys::SetAttributes(temporaryPath_, existingAttributes_.value_or(0)) ||
        !sys::FlushToDisk(temporaryPath_) || !sys::MoveOver(temporaryPath_, path_)) {
        return false;
    }
    temporaryPath_.clear();
    writer_.reset();
    return true;
}

void ArchiveTarget::DropTemporary() {
    writer_.reset();
    if (!temporaryPath_.empty()) {
        sys::RemoveFile(temporaryPath_);
        temporaryPath_.clear();
    }
}

bool ArchiveTarget::IsOwnFile(const sys::FileId& id) const {
    return std::find(ownFiles_.begin(), ownFiles_.end(), id) != ownFiles_.end();
}

} // namespace kelzar
