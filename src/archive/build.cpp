#include "archive/build.h"

#include "archive/dos_time.h"
#include "sys/files.h"
#include "sys/threads.h"

#include <zlib.h>

#include <algorithm>
#include <set>
#include <string>

namespace kelzar {

namespace {

enum class PassOutcome { Finished, Restart, Failed };

struct Pass {
    int added = 0;
    bool allAdded = true;
};

// The files a pass left out, by path. In the next pass the feed thread asks
// while the writer may still add.
class LeftOutFiles {
  public:
    void Insert(const std::string& path) {
        sys::MutexLock lock(mutex_);
        paths_.insert(path);
    }
    bool Contains(const std::string& path) const {
        sys::MutexLock lock(mutex_);
        return paths_.count(path) != 0;
    }

  private:
    mutable sys::Mutex mutex_;
    std::set<std::string> paths_;
};

// Writes the pieces the pipeline hands over, in order. A file whose blocks
// fail after its entry was begun has left a broken entry: the whole archive
// is written again without it (and without the files left out before it).
class PieceWriter {
  public:
    PieceWriter(ArchiveTarget& target, ZipWriter& writer, const CarryOver& carryOver,
                LeftOutFiles& leftOut, Pass& pass)
        : target_(target), writer_(writer), check_(target.Check()), carryOver_(carryOver),
          leftOut_(leftOut), pass_(pass) {}

    PassOutcome Outcome() const { return outcome_; }

    bool Write(EntryPiece& piece) {
        if (excluded_.size() <= piece.file) {
            excluded_.resize(piece.file + 1, false);
        }
        if (excluded_[piece.file]) {
            return true; // a later block of a file already left out
        }
        switch (piece.kind) {
        case EntryPiece::Kind::Own:
            excluded_[piece.file] = true; // the archive never holds itself
            return true;
        case EntryPiece::Kind::LeftOut:
            return LeaveOut(piece);
        case EntryPiece::Kind::Whole:
        case EntryPiece::Kind::Block:
            return WriteData(piece);
        }
        return true;
    }

  private:
    bool LeaveOut(const EntryPiece& piece) {
        target_.Report().Add(piece.failure);
        excluded_[piece.file] = true;
        leftOut_.Insert(piece.path);
        pass_.allAdded = false;
        if (piece.block > 0) {
            outcome_ = PassOutcome::Restart; // its entry is begun and broken
            return false;
        }
        return true;
    }

    bool WriteData(const EntryPiece& piece) {
        if (piece.block == 0 && !CarriedOver()) {
            return false;
        }
        if (piece.block == 0) {
            EntryHeader header;
            header.name = piece.name.bytes;
            header.utf8Flag = piece.name.utf8Flag;
            header.dosDateTime = piece.dosDateTime;
            header.zip64 = NeedsZip64(piece.fileSize);
            const std::uint64_t at = writer_.NextEntryOffset();
            if (!writer_.BeginEntry(header)) {
                return ArchiveFailed();
            }
            if (check_ != nullptr) {
                check_->Follow(header.name, header.method, at, piece.fileSize);
            }
            crc_ = 0;
            size_ = 0;
        }
        if (!writer_.WriteEntryData(piece.deflated.data(), piece.deflated.size())) {
            return ArchiveFailed();
        }
        if (check_ != nullptr) {
            check_->Grew(piece.deflated.size());
        }
        crc_ = piece.block == 0 ? piece.crc
                                : static_cast<std::uint32_t>(crc32_combine(
                                      crc_, piece.crc, static_cast<z_off_t>(piece.size)));
        size_ += piece.size;
        if (piece.block + 1 == piece.blocks) {
            if (!writer_.EndEntry(crc_, size_)) {
                return ArchiveFailed();
            }
            if (check_ != nullptr) {
                check_->Ended(writer_.Written().Count() - 1, crc_, size_);
            }
            ++pass_.added;
        }
        return ReadBack();
    }

    // The entries the archive keeps go first, once there is a file to store
    // after them: while they are copied, the walk and the workers go on, and
    // when nothing is found they are not copied at all.
    bool CarriedOver() {
        if (carried_ || !carryOver_) {
            carried_ = true;
            return true;
        }
        carried_ = true;
        if (Status carried = target_.CarryOverInto(carryOver_); !carried) {
            target_.Report().Add(target_.TemporaryFailure().value_or(carried.Why()));
            outcome_ = PassOutcome::Failed;
            return false;
        }
        return true;
    }

    // Reads back what has reached the file meanwhile: a written entry that
    // is not sound fails the run now rather than at the commit.
    bool ReadBack() {
        if (check_ == nullptr) {
            return true;
        }
        if (!target_.ReadBackWritten()) {
            outcome_ = PassOutcome::Failed;
            return false;
        }
        return true;
    }

    bool ArchiveFailed() {
        target_.Report().Add(
            target_.TemporaryFailure().value_or(Failure{0, "write the archive", target_.Path()}));
        outcome_ = PassOutcome::Failed;
        return false;
    }

    ArchiveTarget& target_;
    ZipWriter& writer_;
    TrailingCheck* check_;
    const CarryOver& carryOver_;
    bool carried_ = false;
    LeftOutFiles& leftOut_;
    std::vector<bool> excluded_; // by the pass's file numbers
    Pass& pass_;
    PassOutcome outcome_ = PassOutcome::Finished;
    std::uint32_t crc_ = 0;
    std::uint64_t size_ = 0;
};

PipelineOptions OptionsFor(const ArchiveTarget& target, unsigned workers) {
    PipelineOptions options;
    options.workers = workers;
    options.mayBeOwn = [&target](const std::string& name) { return target.MayBeOwnFile(name); };
    options.isOwn = [&target](const sys::FileId& id) { return target.IsOwnFile(id); };
    return options;
}

} // namespace

unsigned DefaultWorkers() {
    return std::min(sys::ProcessorCount(), 16u);
}

BuildResult BuildArchive(ArchiveTarget& target, const FileFeed& find, const CarryOver& carryOver,
                         unsigned workers) {
    // A second pass, should one be needed, finds the files again (rather
    // than holding a list of every file for the rare case) and leaves out
    // those the first left out.
    LeftOutFiles leftOut;
    std::size_t found = 0;
    bool allAdded = true;
    for (bool first = true;; first = false) {
        ZipWriter* writer = target.BeginTemporary();
        if (writer == nullptr) {
            return {};
        }
        std::size_t emitted = 0;
        FileFeed feed = [&](const FileEmitter& emit) {
            find([&](std::size_t, const FileToAdd& file) {
                if (first || !leftOut.Contains(file.path)) {
                    emit(emitted++, file);
                }
            });
        };
        Pass pass;
        PieceWriter pieces(target, *writer, carryOver, leftOut, pass);
        Status ran = RunEntryPipeline(feed, OptionsFor(target, workers),
                                      [&](EntryPiece& piece) { return pieces.Write(piece); });
        if (!ran) {
            target.Report().Add(ran.Why());
            return {};
        }
        if (first) {
            found = emitted;
        }
        allAdded = allAdded && pass.allAdded;
        if (first && found == 0) {
            return {}; // nothing to store: nothing is written
        }
        if (pieces.Outcome() == PassOutcome::Restart) {
            continue;
        }
        if (pieces.Outcome() == PassOutcome::Finished && pass.added == 0) {
            target.Report().Add("find a file to store among those that matched", target.Path());
        }
        if (pieces.Outcome() == PassOutcome::Failed || pass.added == 0 || !target.Commit()) {
            return {};
        }
        return BuildResult{found, pass.added, allAdded, true};
    }
}

BuildResult BuildArchive(ArchiveTarget& target, const std::vector<FileToAdd>& files,
                         const CarryOver& carryOver, unsigned workers) {
    return BuildArchive(
        target,
        [&files](const FileEmitter& emit) {
            for (std::size_t i = 0; i < files.size(); ++i) {
                emit(i, files[i]);
            }
        },
        carryOver, workers);
}

} // namespace kelzar
