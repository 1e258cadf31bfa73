#include "archive/trailing_check.h"

#include "archive/zip_bytes.h"

#include <algorithm>

namespace kelzar {

using namespace zip_bytes;

void TrailingCheck::Follow(const std::string& name, int method, std::uint64_t localOffset,
                           std::uint64_t size) {
    Followed entry;
    entry.name = name;
    entry.method = method;
    entry.localOffset = localOffset;
    entry.size = size;
    followed_.push_back(std::move(entry));
}

void TrailingCheck::Grew(std::uint64_t bytes) {
    if (!followed_.empty()) {
        followed_.back().written += bytes;
    }
}

void TrailingCheck::Ended(std::size_t index, std::uint32_t crc, std::uint64_t size) {
    if (!followed_.empty()) {
        Followed& entry = followed_.back();
        entry.ended = true;
        entry.index = index;
        entry.crc = crc;
        entry.endedSize = size;
    }
}

// Reads the local header the writer put down, to learn where the data
// begin; the rest of the header is compared with the central one later.
Status TrailingCheck::BeginFront(Followed& entry, std::uint64_t reach) {
    if (reach < entry.localOffset + kLocalHeaderSize) {
        return Status::Done(); // not on the file yet
    }
    Result<std::uint64_t> dataAt = DataStart(window_, entry.localOffset, entry.name);
    if (!dataAt) {
        return dataAt.Why();
    }
    entry.dataAt = *dataAt;
    entry.begun = true;
    return check_.Begin(entry.name, entry.method, entry.size);
}

Status TrailingCheck::Advance(WrittenEntries& entries) {
    const std::uint64_t reach = file_.Size();
    while (!followed_.empty()) {
        Followed& entry = followed_.front();
        if (!entry.begun) {
            if (Status begun = BeginFront(entry, reach); !begun || !entry.begun) {
                return begun;
            }
        }
        const std::uint64_t upTo = std::min(entry.dataAt + entry.written, reach);
        while (entry.dataAt + entry.checked < upTo) {
            const std::uint64_t at = entry.dataAt + entry.checked;
            piece_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(upTo - at, kPiece)));
            if (Status read = window_.ReadAt(at, piece_.data(), piece_.size()); !read) {
                return read;
            }
            if (Status taken = check_.Take(piece_.data(), piece_.size()); !taken) {
                return taken;
            }
            entry.checked += piece_.size();
        }
        if (!entry.ended || entry.checked < entry.written) {
            return Status::Done(); // the rest is not written or not on the file yet
        }
        if (entry.endedSize != entry.size) {
            return Damaged("size of " + entry.name + " changed while it was written");
        }
        if (Status ended = check_.End(entry.crc); !ended) {
            return ended;
        }
        if (!entries.MarkChecked(entry.index, entry.dataAt)) {
            return Damaged("an entry read back that the archive does not hold");
        }
        followed_.pop_front();
    }
    return Status::Done();
}

Status TrailingCheck::Finish(WrittenEntries& entries) {
    if (Status advanced = Advance(entries); !advanced) {
        return advanced;
    }
    if (!followed_.empty()) {
        return Damaged("data of " + followed_.front().name + " never reached the file");
    }
    return Status::Done();
}

} // namespace kelzar
