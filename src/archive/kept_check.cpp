#include "archive/kept_check.h"

#include "archive/zip_bytes.h"

#include <utility>

namespace kelzar {

using namespace zip_bytes;

namespace {

// Entries waiting to be read back, at most. The copy never waits for the
// checking thread: an entry that finds it this far behind is left to the
// final read-back, which has every processor.
constexpr std::size_t kMostFollowed = 4096;

// Where the entry's data end, as the writer lays entries out: the local
// header's fixed fields, the name, a Zip64 field of 20 bytes when the entry
// has one, then the data.
std::uint64_t EndOf(const WrittenEntry& entry) {
    return entry.localOffset + kLocalHeaderSize + entry.name.size() + (entry.zip64 ? 20 : 0) +
           entry.compressedSize;
}

} // namespace

bool KeptCheck::FrontReached() const {
    return !followed_.empty() && file_.Size() >= followed_.front().end;
}

bool KeptCheck::TakeMarks(WrittenEntries& entries) {
    bool sound = true;
    {
        sys::MutexLock lock(mutex_);
        std::swap(marks_, taken_);
        sound = !failure_;
    }
    for (const Mark& mark : taken_) {
        // A mark refused leaves the entry to the final read-back.
        entries.MarkChecked(mark.index, mark.dataAt);
    }
    taken_.clear();
    return sound;
}

bool KeptCheck::Follow(std::size_t index, const WrittenEntry& entry, WrittenEntries& entries) {
    TakeMarks(entries);
    sys::MutexLock lock(mutex_);
    if (followed_.size() < kMostFollowed) {
        followed_.push_back(Followed{index, entry, EndOf(entry)});
    }
    changed_.WakeAll(); // the file may have grown too
    return !failure_;
}

void KeptCheck::Stop() {
    sys::MutexLock lock(mutex_);
    stopped_ = true;
    changed_.WakeAll();
}

void KeptCheck::Run() {
    for (;;) {
        Followed next;
        {
            sys::MutexLock lock(mutex_);
            while (!FrontReached() && !stopped_) {
                changed_.Wait(mutex_);
            }
            if (stopped_) {
                return;
            }
            next = std::move(followed_.front());
            followed_.pop_front();
        }
        std::uint64_t dataAt = 0;
        Status checked = CheckOne(next, dataAt);
        sys::MutexLock lock(mutex_);
        if (!checked) {
            failure_ = checked.Why();
            changed_.WakeAll();
            return;
        }
        marks_.push_back(Mark{next.index, dataAt});
    }
}

Status KeptCheck::CheckOne(const Followed& followed, std::uint64_t& dataAt) {
    const WrittenEntry& entry = followed.entry;
    Result<std::uint64_t> start = DataStart(window_, entry.localOffset, entry.name);
    if (!start) {
        return start.Why();
    }
    if (*start + entry.compressedSize != followed.end) {
        return Damaged("local header of " + entry.name + " is not what was written");
    }
    dataAt = *start;
    return CheckEntryData(window_, *start, entry, check_, buffer_);
}

Status KeptCheck::Finish(WrittenEntries& entries) {
    TakeMarks(entries);
    sys::MutexLock lock(mutex_);
    followed_.clear();
    return failure_ ? Status(*failure_) : Status::Done();
}

} // namespace kelzar
