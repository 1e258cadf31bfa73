#include "archive/entry_pipeline.h"

#include "archive/deflater.h"
#include "archive/dos_time.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <memory>

namespace kelzar {

namespace {

constexpr std::size_t kDictionary = 32 * 1024;
// How far the workers may run ahead of the writer: in pieces, and in bytes
// of content (each piece's deflated form is at most a little larger).
constexpr std::size_t kMaxPiecesAhead = 256;
constexpr std::uint64_t kMaxBytesAhead = 8u << 20;

// One unit of work: a whole file, or one block of a large one.
struct Job {
    std::size_t file = 0;
    unsigned block = 0;
    unsigned blocks = 1;
    std::uint64_t offset = 0; // of the block's content in the file
    std::uint64_t length = 0;
};

// A file stored in several blocks is opened once, by the job of its first
// block (always taken before the others); the other blocks read through the
// same handle, so all of them see the same file.
struct SharedFile {
    sys::Mutex mutex;
    sys::ConditionVariable opened;
    bool done = false;
    std::optional<Result<sys::InputFile>> file;
    unsigned unfinished = 0; // blocks still to read through it
};

class Pipeline {
  public:
    Pipeline(const std::vector<FileToAdd>& files, const std::vector<bool>& skip,
             const PipelineOptions& options)
        : files_(files), options_(options) {
        Plan(skip);
    }

    void Run(const std::function<bool(EntryPiece&)>& consume) {
        unsigned workers = std::max(1u, options_.workers);
        sys::RunInParallel(workers + 1, [&](unsigned index) {
            if (index == 0) {
                Consume(consume);
            } else {
                Work();
            }
        });
    }

  private:
    void Plan(const std::vector<bool>& skip) {
        const std::uint64_t block = options_.blockSize;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (skip[i]) {
                continue;
            }
            const std::uint64_t size = files_[i].size;
            if (size <= block) {
                jobs_.push_back(Job{i, 0, 1, 0, size});
                continue;
            }
            auto blocks = static_cast<unsigned>((size + block - 1) / block);
            for (unsigned k = 0; k < blocks; ++k) {
                std::uint64_t offset = k * block;
                jobs_.push_back(Job{i, k, blocks, offset, std::min(block, size - offset)});
            }
            shared_[i] = std::make_unique<SharedFile>();
            shared_[i]->unfinished = blocks;
        }
        ready_.resize(jobs_.size());
    }

    // The writer's side: each piece in order, as soon as it is ready.
    void Consume(const std::function<bool(EntryPiece&)>& consume) {
        for (std::size_t seq = 0; seq < jobs_.size(); ++seq) {
            std::unique_ptr<EntryPiece> piece;
            {
                sys::MutexLock lock(mutex_);
                while (!ready_[seq]) {
                    changed_.Wait(mutex_);
                }
                piece = std::move(ready_[seq]);
                consumed_ = seq + 1;
                bytesAhead_ -= jobs_[seq].length;
                changed_.WakeAll();
            }
            if (!consume(*piece)) {
                break;
            }
        }
        sys::MutexLock lock(mutex_);
        stopped_ = true;
        changed_.WakeAll();
    }

    // A worker's side: the next job in order, within the bounds ahead.
    void Work() {
        Deflater deflater;
        std::vector<unsigned char> buffer;
        for (;;) {
            std::size_t seq;
            {
                sys::MutexLock lock(mutex_);
                while (!stopped_ && next_ < jobs_.size() && !MayTake(next_)) {
                    changed_.Wait(mutex_);
                }
                if (stopped_ || next_ >= jobs_.size()) {
                    return;
                }
                seq = next_++;
                bytesAhead_ += jobs_[seq].length;
            }
            auto piece = std::make_unique<EntryPiece>(Prepare(jobs_[seq], deflater, buffer));
            sys::MutexLock lock(mutex_);
            ready_[seq] = std::move(piece);
            changed_.WakeAll();
        }
    }

    // The piece the writer waits for may always be made; others only while
    // the workers are not too far ahead of it.
    bool MayTake(std::size_t seq) const {
        return seq == consumed_ || (seq < consumed_ + kMaxPiecesAhead &&
                                    bytesAhead_ + jobs_[seq].length <= kMaxBytesAhead);
    }

    EntryPiece Prepare(const Job& job, Deflater& deflater, std::vector<unsigned char>& buffer) {
        const FileToAdd& file = files_[job.file];
        EntryPiece piece;
        piece.file = job.file;
        piece.block = job.block;
        piece.blocks = job.blocks;
        piece.fileSize = file.size;
        piece.kind = job.blocks == 1 ? EntryPiece::Kind::Whole : EntryPiece::Kind::Block;
        if (job.block == 0) {
            std::optional<StoredName> name = EncodeEntryName(file.entryName);
            if (!name) {
                return LeftOut(piece,
                               Failure{0, "store a name that is not valid Unicode:", file.path});
            }
            piece.name = std::move(*name);
            piece.dosDateTime = ToDosDateTime(sys::LocalCalendarOf(file.lastWriteUtc));
        }
        SharedFile* shared = job.blocks > 1 ? shared_.at(job.file).get() : nullptr;
        std::optional<Result<sys::InputFile>> own;
        const Result<sys::InputFile>* opened = nullptr;
        if (shared == nullptr) {
            own = sys::InputFile::Open(file.path);
            opened = &*own;
        } else {
            opened = OpenShared(*shared, job, file);
        }
        Status done = Status::Done();
        if (!*opened) {
            done = opened->Why();
        } else if (job.block == 0 && options_.mayBeOwn && options_.mayBeOwn(file.name)) {
            Result<sys::FileId> id = (*opened)->Id();
            if (id && options_.isOwn && options_.isOwn(*id)) {
                piece.kind = EntryPiece::Kind::Own;
            }
        }
        if (done && piece.kind != EntryPiece::Kind::Own) {
            done = Compress(**opened, job, deflater, buffer, piece);
        }
        if (shared != nullptr) {
            ReleaseShared(*shared);
        }
        return done ? std::move(piece) : LeftOut(piece, done.Why());
    }

    const Result<sys::InputFile>* OpenShared(SharedFile& shared, const Job& job,
                                             const FileToAdd& file) {
        sys::MutexLock lock(shared.mutex);
        if (job.block == 0) {
            shared.file = sys::InputFile::Open(file.path);
            shared.done = true;
            shared.opened.WakeAll();
        }
        while (!shared.done) {
            shared.opened.Wait(shared.mutex);
        }
        return &*shared.file;
    }

    void ReleaseShared(SharedFile& shared) {
        sys::MutexLock lock(shared.mutex);
        if (--shared.unfinished == 0) {
            shared.file.reset(); // the last block closes the file
        }
    }

    // Reads the job's content (with the 32 KiB before it, for a later block)
    // and deflates it into the piece.
    Status Compress(const sys::InputFile& input, const Job& job, Deflater& deflater,
                    std::vector<unsigned char>& buffer, EntryPiece& piece) {
        const std::uint64_t before = std::min<std::uint64_t>(job.offset, kDictionary);
        buffer.resize(static_cast<std::size_t>(before + job.length));
        if (!buffer.empty()) {
            if (Status read = input.ReadAt(job.offset - before, buffer.data(), buffer.size());
                !read) {
                return read;
            }
        }
        const unsigned char* content = buffer.data() + before;
        piece.deflated.reserve(static_cast<std::size_t>(job.length / 2 + 64));
        auto sink = [&](const unsigned char* data, std::size_t size) {
            piece.deflated.insert(piece.deflated.end(), data, data + size);
            return true;
        };
        bool last = job.block + 1 == job.blocks;
        bool ok = deflater.Reset() &&
                  (before == 0 ||
                   deflater.SetDictionary(buffer.data(), static_cast<std::size_t>(before))) &&
                  deflater.Feed(content, static_cast<std::size_t>(job.length), sink) &&
                  (last ? deflater.Finish(sink) : deflater.EndBlock(sink));
        if (!ok) {
            return Failure{0, "compress", files_[job.file].path};
        }
        piece.crc = deflater.Crc();
        piece.size = job.length;
        return Status::Done();
    }

    static EntryPiece LeftOut(EntryPiece& piece, const Failure& failure) {
        piece.kind = EntryPiece::Kind::LeftOut;
        piece.failure = failure;
        piece.deflated.clear();
        return std::move(piece);
    }

    const std::vector<FileToAdd>& files_;
    const PipelineOptions& options_;
    std::vector<Job> jobs_;
    std::map<std::size_t, std::unique_ptr<SharedFile>> shared_;

    sys::Mutex mutex_;
    sys::ConditionVariable changed_;
    std::vector<std::unique_ptr<EntryPiece>> ready_;
    std::size_t next_ = 0;     // the next job a worker takes
    std::size_t consumed_ = 0; // the pieces the writer has taken
    std::uint64_t bytesAhead_ = 0;
    bool stopped_ = false;
};

} // namespace

void RunEntryPipeline(const std::vector<FileToAdd>& files, const std::vector<bool>& skip,
                      const PipelineOptions& options,
                      const std::function<bool(EntryPiece&)>& consume) {
    Pipeline(files, skip, options).Run(consume);
}

} // namespace kelzar
