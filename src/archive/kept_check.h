// Reads the entries carried over from the old archive back on a thread of
// its own while the copying goes on: each entry's data are inflated (or,
// stored, taken as they are) as soon as they have reached the file, so that
// checking them overlaps with copying them and the final read-back checks
// their headers only. The entries not read back when the copy ends are
// left to the final read-back, which shares them out among all processors.
#pragma once

#include "archive/verify.h"
#include "archive/written_entries.h"
#include "sys/threads.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace kelzar {

class KeptCheck {
  public:
    // `file` reads the archive file from any thread; its Size() is how far
    // the written bytes have reached the file, and only those are read.
    explicit KeptCheck(const ByteSource& file) : file_(file), window_(file) {}
    KeptCheck(const KeptCheck&) = delete;
    KeptCheck& operator=(const KeptCheck&) = delete;

    // On the copying thread: the `index`th entry of `entries` has just been
    // written as `entry`; it is to be read back, unless too many wait
    // already. The marks of the entries found sound meanwhile go into
    // `entries`. False once one was found unsound (Finish says why): the
    // copy should stop.
    bool Follow(std::size_t index, const WrittenEntry& entry, WrittenEntries& entries);
    // On the copying thread: the marks of the entries found sound so far
    // go into `entries`. False once one was found unsound.
    bool TakeMarks(WrittenEntries& entries);
    // On the copying thread, once the copy is over or has failed.
    void Stop();
    // On the checking thread: reads back the entries followed as they reach
    // the file, until Stop (the entry begun is finished), or until one is
    // not sound.
    void Run();
    // Once Run has returned: the last marks into `entries`, and why an entry
    // was not sound, if one was not.
    Status Finish(WrittenEntries& entries);

  private:
    struct Followed {
        std::size_t index = 0;
        WrittenEntry entry;
        std::uint64_t end = 0; // of its data, as the writer lays entries out
    };
    struct Mark {
        std::size_t index;
        std::uint64_t dataAt;
    };

    // With the lock held.
    bool FrontReached() const;
    Status CheckOne(const Followed& followed, std::uint64_t& dataAt);

    const ByteSource& file_;
    sys::Mutex mutex_;
    sys::ConditionVariable changed_;
    std::deque<Followed> followed_;
    std::vector<Mark> marks_;
    std::vector<Mark> taken_; // the copying thread's, swapped with marks_
    bool stopped_ = false;
    std::optional<Failure> failure_;
    // The checking thread's own.
    WindowedSource window_;
    EntryDataCheck check_;
    std::vector<unsigned char> buffer_;
};

} // namespace kelzar
