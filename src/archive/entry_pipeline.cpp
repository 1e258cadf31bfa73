#include "archive/entry_pipeline.h"

#include "archive/deflater.h"
#include "archive/dos_time.h"
#include "sys/files.h"
#include "sys/text.h"
#include "sys/threads.h"

#include <zlib.h>

#include <algorithm>
#include <deque>
#include <memory>

namespace kelzar {

namespace {

constexpr std::size_t kDictionary = 32 * 1024;
// How far the workers may run ahead of the writer: in pieces, and in bytes
// of content (each piece's deflated form is at most a little larger).
constexpr std::size_t kMaxPiecesAhead = 256;
constexpr std::uint64_t kMaxBytesAhead = 8u << 20;
// How far the feed may run ahead of the writer, in jobs: a walk is faster
// than compressing, and a tree of a million files must not be held whole.
constexpr std::size_t kMaxJobsPlanned = 4096;

// How many files may be open at once: the feed opens each file it plans,
// and the file stays open until its entry is written.
constexpr std::size_t kMaxFilesAhead = 256;

// The buffers of pieces written go back to the workers, up to this much
// room in all: memory the heap would otherwise hand out as fresh pages for
// every piece (and, for a large block, take back from the process).
constexpr std::size_t kMaxSpareBytes = 16u << 20;

// A file as the feed emitted it, opened by the feed so that its size is the
// one the open file has (and the blocks it is cut into fit it); every block
// of it reads through the same handle, so all of them see the same file. It
// stays where it is while the pipeline runs, and closes when its last piece
// is written.
struct FedFile {
    std::size_t index = 0; // the caller's number for it
    FileToAdd file;
    std::optional<Result<sys::InputFile>> opened;
    std::uint64_t size = 0; // what is stored: the open file's size
};

// One unit of work: a whole file, or one block of a large one.
struct Job {
    FedFile* file = nullptr;
    unsigned block = 0;
    unsigned blocks = 1;
    std::uint64_t offset = 0; // of the block's content in the file
    std::uint64_t length = 0;
};

class Pipeline {
  public:
    explicit Pipeline(const PipelineOptions& options) : options_(options) {}

    // Thread 0 writes, thread 1 feeds, the others work.
    Status Run(const FileFeed& feed, const std::function<bool(EntryPiece&)>& consume) {
        unsigned workers = std::max(1u, options_.workers);
        return sys::RunInParallel(workers + 2, [&](unsigned index) {
            if (index == 0) {
                Consume(consume);
            } else if (index == 1) {
                Feed(feed);
            } else {
                Work();
            }
        });
    }

  private:
    void Feed(const FileFeed& feed) {
        feed([this](std::size_t index, const FileToAdd& file) { Plan(index, file); });
        sys::MutexLock lock(mutex_);
        planned_ = true;
        changed_.WakeAll();
    }

    // Opens the file and cuts it into jobs: one, or one per block.
    void Plan(std::size_t index, const FileToAdd& file) {
        if (!WaitForRoom()) {
            return; // the writer wants no more
        }
        auto fed = std::make_unique<FedFile>(FedFile{index, file, std::nullopt, 0});
        fed->opened = sys::InputFile::Open(file.path);
        if (*fed->opened) {
            Result<std::uint64_t> size = (*fed->opened)->Size();
            if (size) {
                fed->size = *size;
            } else {
                fed->opened = size.Why();
            }
        }
        const std::uint64_t block = options_.blockSize;
        const std::uint64_t size = fed->size;
        std::vector<Job> jobs;
        if (size <= block) {
            jobs.push_back(Job{fed.get(), 0, 1, 0, size});
        } else {
            auto blocks = static_cast<unsigned>((size + block - 1) / block);
            for (unsigned k = 0; k < blocks; ++k) {
                std::uint64_t offset = k * block;
                jobs.push_back(Job{fed.get(), k, blocks, offset, std::min(block, size - offset)});
            }
        }
        sys::MutexLock lock(mutex_);
        files_.push_back(std::move(fed));
        for (const Job& job : jobs) {
            jobs_.push_back(job);
            ready_.emplace_back();
        }
        changed_.WakeAll();
    }

    // Waits until another file may be opened and planned; false when the
    // writer wants no more. Only the feed adds files, so the room lasts.
    bool WaitForRoom() {
        sys::MutexLock lock(mutex_);
        while (!stopped_ && (jobs_.size() >= kMaxJobsPlanned || files_.size() >= kMaxFilesAhead)) {
            changed_.Wait(mutex_);
        }
        return !stopped_;
    }

    // The writer's side: each piece in order, as soon as it is ready.
    void Consume(const std::function<bool(EntryPiece&)>& consume) {
        for (std::size_t seq = 0;; ++seq) {
            std::unique_ptr<EntryPiece> piece;
            {
                sys::MutexLock lock(mutex_);
                while (!(seq < Planned() && ReadyAt(seq)) && !(planned_ && seq >= Planned())) {
                    changed_.Wait(mutex_);
                }
                if (seq >= Planned()) {
                    break; // all fed and all written
                }
                piece = std::move(ReadyAt(seq));
                consumed_ = seq + 1;
                bytesAhead_ -= JobAt(seq).length;
                Forget(seq);
                changed_.WakeAll();
            }
            if (!consume(*piece)) {
                break;
            }
            GiveBack(std::move(piece->deflated));
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
            Job job;
            {
                sys::MutexLock lock(mutex_);
                while (!stopped_ && !(next_ < Planned() && MayTake(next_)) &&
                       !(planned_ && next_ >= Planned())) {
                    changed_.Wait(mutex_);
                }
                if (stopped_ || next_ >= Planned()) {
                    return;
                }
                seq = next_++;
                job = JobAt(seq);
                bytesAhead_ += job.length;
            }
            auto piece = std::make_unique<EntryPiece>(Prepare(job, deflater, buffer));
            sys::MutexLock lock(mutex_);
            ReadyAt(seq) = std::move(piece);
            changed_.WakeAll();
        }
    }

    // A buffer for a piece's deflated bytes: the smallest spare one with
    // room for `wanted`, else the roomiest spare, else a new one.
    std::vector<unsigned char> TakeSpare(std::size_t wanted) {
        sys::MutexLock lock(mutex_);
        if (spare_.empty()) {
            return {};
        }
        auto taken = spare_.begin();
        for (auto at = spare_.begin(); at != spare_.end(); ++at) {
            const bool fits = at->capacity() >= wanted;
            const bool takenFits = taken->capacity() >= wanted;
            if (fits ? !takenFits || at->capacity() < taken->capacity()
                     : !takenFits && at->capacity() > taken->capacity()) {
                taken = at;
            }
        }
        std::vector<unsigned char> buffer = std::move(*taken);
        spare_.erase(taken);
        spareBytes_ -= buffer.capacity();
        return buffer;
    }

    void GiveBack(std::vector<unsigned char> buffer) {
        buffer.clear();
        sys::MutexLock lock(mutex_);
        if (buffer.capacity() > 0 && spareBytes_ + buffer.capacity() <= kMaxSpareBytes) {
            spareBytes_ += buffer.capacity();
            spare_.push_back(std::move(buffer));
        }
    }

    // The piece the writer waits for may always be made; others only while
    // the workers are not too far ahead of it.
    bool MayTake(std::size_t seq) const {
        return seq == consumed_ || (seq < consumed_ + kMaxPiecesAhead &&
                                    bytesAhead_ + JobAt(seq).length <= kMaxBytesAhead);
    }

    // Jobs and pieces by their number in the whole run; those written are
    // let go, so that a run of a million files holds only what is in flight.
    std::size_t Planned() const { return forgotten_ + jobs_.size(); }
    const Job& JobAt(std::size_t seq) const { return jobs_[seq - forgotten_]; }
    std::unique_ptr<EntryPiece>& ReadyAt(std::size_t seq) { return ready_[seq - forgotten_]; }

    // The piece `seq` is written: its job goes, and with the last piece of a
    // file the file (every block of it is prepared by then, so no worker
    // still points at it).
    void Forget(std::size_t seq) {
        const Job& job = JobAt(seq);
        if (job.block + 1 == job.blocks && !files_.empty() && files_.front().get() == job.file) {
            files_.pop_front();
        }
        jobs_.pop_front();
        ready_.pop_front();
        ++forgotten_;
    }

    EntryPiece Prepare(const Job& job, Deflater& deflater, std::vector<unsigned char>& buffer) {
        const FileToAdd& file = job.file->file;
        EntryPiece piece;
        piece.file = job.file->index;
        piece.block = job.block;
        piece.blocks = job.blocks;
        piece.fileSize = job.file->size;
        piece.kind = job.blocks == 1 ? EntryPiece::Kind::Whole : EntryPiece::Kind::Block;
        if (job.block == 0) {
            std::optional<StoredName> name = EncodeEntryName(file.entryName);
            if (!name) {
                return LeftOut(piece, file.path,
                               Failure{0, "store a name that is not valid Unicode:", file.path});
            }
            piece.name = std::move(*name);
            piece.dosDateTime = ToDosDateTime(sys::LocalCalendarOf(file.lastWriteUtc));
        }
        const Result<sys::InputFile>& opened = *job.file->opened;
        Status done = Status::Done();
        if (!opened) {
            done = opened.Why();
        } else if (job.block == 0 && options_.mayBeOwn && options_.mayBeOwn(file.name)) {
            Result<sys::FileId> id = opened->Id();
            if (id && options_.isOwn && options_.isOwn(*id)) {
                piece.kind = EntryPiece::Kind::Own;
            }
        }
        if (done && piece.kind != EntryPiece::Kind::Own) {
            done = Compress(*opened, job, deflater, buffer, piece);
        }
        return done ? std::move(piece) : LeftOut(piece, file.path, done.Why());
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
        // Room for the worst case, so that the buffer never grows (and is
        // copied) while it is filled.
        const auto wanted =
            static_cast<std::size_t>(deflateBound(nullptr, static_cast<uLong>(job.length)));
        piece.deflated = TakeSpare(wanted);
        piece.deflated.reserve(wanted);
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
            return Failure{0, "compress", job.file->file.path};
        }
        piece.crc = deflater.Crc();
        piece.size = job.length;
        return Status::Done();
    }

    static EntryPiece LeftOut(EntryPiece& piece, const std::string& path, const Failure& failure) {
        piece.kind = EntryPiece::Kind::LeftOut;
        piece.path = path;
        piece.failure = failure;
        piece.deflated.clear();
        return std::move(piece);
    }

    const PipelineOptions& options_;

    // All of it under the mutex; a job taken is copied out, and the files
    // it points to stay in place.
    sys::Mutex mutex_;
    sys::ConditionVariable changed_;
    std::deque<std::unique_ptr<FedFile>> files_;
    std::deque<Job> jobs_;
    std::deque<std::unique_ptr<EntryPiece>> ready_;
    std::size_t forgotten_ = 0; // jobs written and let go, all at the front
    std::size_t next_ = 0;      // the next job a worker takes
    std::size_t consumed_ = 0;  // the pieces the writer has taken
    std::uint64_t bytesAhead_ = 0;
    std::vector<std::vector<unsigned char>> spare_; // written pieces' buffers
    std::size_t spareBytes_ = 0;                    // their room in all
    bool planned_ = false;                          // the feed has emitted every file
    bool stopped_ = false;                          // the writer wants no more
};

} // namespace

Status RunEntryPipeline(const FileFeed& feed, const PipelineOptions& options,
                        const std::function<bool(EntryPiece&)>& consume) {
    return Pipeline(options).Run(feed, consume);
}

} // namespace kelzar
