#include "archive/written_entries.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kelzar {

namespace {

// A record: the 32-bit distance from its local header to its data when
// they were read back (0 when not; it is the field that changes later, so
// it comes first and has a fixed size), the length of the name it shares
// with the record before, the rest of its name, the sizes, the distance
// from the record before's local header, date, CRC, method, UTF-8 flag and
// the Zip64 mark.

void PutNumber(std::vector<unsigned char>& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<unsigned char>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<unsigned char>(value));
}

std::uint64_t TakeNumber(const unsigned char*& in) {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char byte = *in++;
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) {
            return value;
        }
    }
}

void PutFixed(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::uint32_t TakeFixed(const unsigned char*& in) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= std::uint32_t{in[i]} << (8 * i);
    }
    in += 4;
    return value;
}

std::size_t SharedLength(const std::string& a, const std::string& b) {
    const std::size_t most = std::min(a.size(), b.size());
    return static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(most), b.begin()).first -
        a.begin());
}

// The distance a mark records, or 0 when it cannot be recorded.
std::uint32_t MarkDistance(std::uint64_t localOffset, std::uint64_t dataAt) {
    if (dataAt <= localOffset || dataAt - localOffset > std::numeric_limits<std::uint32_t>::max()) {
        return 0;
    }
    return static_cast<std::uint32_t>(dataAt - localOffset);
}

} // namespace

void WrittenEntries::Add(const WrittenEntry& entry) {
    const bool groupStart = count_ % kGroup == 0;
    const std::size_t shared = groupStart ? 0 : SharedLength(lastName_, entry.name);
    const std::uint64_t from = groupStart ? 0 : lastOffset_;
    record_.assign(4, 0);
    if (entry.checkedDataAt) {
        // A mark that cannot be recorded is dropped: its data are then
        // read back once more.
        PutFixed(record_.data(), MarkDistance(entry.localOffset, *entry.checkedDataAt));
    }
    PutNumber(record_, shared);
    PutNumber(record_, entry.name.size() - shared);
    record_.insert(record_.end(), entry.name.begin() + static_cast<std::ptrdiff_t>(shared),
                   entry.name.end());
    PutNumber(record_, entry.compressedSize);
    PutNumber(record_, entry.uncompressedSize);
    // Offsets grow from one entry to the next, by little; one that goes back
    // costs ten bytes, the difference taken modulo 2^64.
    PutNumber(record_, entry.localOffset - from);
    const std::size_t fixedAt = record_.size();
    record_.resize(fixedAt + 8);
    PutFixed(record_.data() + fixedAt, entry.dosDateTime);
    PutFixed(record_.data() + fixedAt + 4, entry.crc);
    PutNumber(record_, entry.method);
    PutNumber(record_, entry.utf8Flag);
    record_.push_back(entry.zip64 ? 1 : 0);
    Store(record_.data(), record_.size());
    lastName_ = entry.name;
    lastOffset_ = entry.localOffset;
    ++count_;
}

void WrittenEntries::Store(const unsigned char* record, std::size_t size) {
    if (blocks_.empty() || blocks_.back().size - blocks_.back().used < size) {
        Block block;
        block.size = std::max(kBlockSize, size);
        block.bytes.reset(new unsigned char[block.size]);
        blocks_.push_back(std::move(block));
    }
    Block& block = blocks_.back();
    if (count_ % kGroup == 0) {
        groups_.push_back(Place{blocks_.size() - 1, block.used});
    }
    std::memcpy(block.bytes.get() + block.used, record, size);
    block.used += size;
}

WrittenEntries::Place WrittenEntries::Step(Cursor& cursor, WrittenEntry* entry) const {
    if (cursor.at.offset == blocks_[cursor.at.block].used) {
        ++cursor.at.block;
        cursor.at.offset = 0;
    }
    const Place here = cursor.at;
    const unsigned char* const start = blocks_[here.block].bytes.get() + here.offset;
    const unsigned char* in = start;
    const std::uint32_t mark = TakeFixed(in);
    const auto shared = static_cast<std::size_t>(TakeNumber(in));
    const auto rest = static_cast<std::size_t>(TakeNumber(in));
    const unsigned char* const name = in;
    in += rest;
    const std::uint64_t compressedSize = TakeNumber(in);
    const std::uint64_t uncompressedSize = TakeNumber(in);
    const std::uint64_t from = cursor.next % kGroup == 0 ? 0 : cursor.localOffset;
    const std::uint64_t localOffset = from + TakeNumber(in);
    const std::uint32_t dosDateTime = TakeFixed(in);
    const std::uint32_t crc = TakeFixed(in);
    const auto method = static_cast<std::uint16_t>(TakeNumber(in));
    const auto utf8Flag = static_cast<std::uint16_t>(TakeNumber(in));
    const bool zip64 = *in++ != 0;
    if (entry != nullptr) {
        entry->name.resize(shared);
        entry->name.append(reinterpret_cast<const char*>(name), rest);
        entry->compressedSize = compressedSize;
        entry->uncompressedSize = uncompressedSize;
        entry->localOffset = localOffset;
        entry->checkedDataAt.reset();
        if (mark != 0) {
            entry->checkedDataAt = localOffset + mark;
        }
        entry->dosDateTime = dosDateTime;
        entry->crc = crc;
        entry->method = method;
        entry->utf8Flag = utf8Flag;
        entry->zip64 = zip64;
    }
    cursor.localOffset = localOffset;
    cursor.at.offset += static_cast<std::size_t>(in - start);
    ++cursor.next;
    return here;
}

WrittenEntries::Cursor WrittenEntries::CursorAt(std::size_t index) const {
    Cursor cursor;
    cursor.next = index - index % kGroup;
    cursor.at = groups_[index / kGroup];
    return cursor;
}

bool WrittenEntries::MarkChecked(std::size_t index, std::uint64_t dataAt) {
    if (index >= count_) {
        return false;
    }
    if (mark_.next > index || index - mark_.next >= kGroup) {
        mark_ = CursorAt(index);
    }
    while (mark_.next < index) {
        Step(mark_, nullptr);
    }
    const Place here = Step(mark_, nullptr);
    const std::uint32_t distance = MarkDistance(mark_.localOffset, dataAt);
    if (distance == 0) {
        return false;
    }
    PutFixed(blocks_[here.block].bytes.get() + here.offset, distance);
    return true;
}

WrittenEntries::Reader::Reader(const WrittenEntries& entries, std::size_t first)
    : entries_(&entries) {
    if (first >= entries.count_) {
        cursor_.next = entries.count_;
        return;
    }
    // Names are read from the start of the group, each from the one before.
    cursor_ = entries.CursorAt(first);
    while (cursor_.next < first) {
        entries.Step(cursor_, &current_);
    }
}

const WrittenEntry* WrittenEntries::Reader::Next() {
    if (cursor_.next >= entries_->count_) {
        return nullptr;
    }
    entries_->Step(cursor_, &current_);
    return &current_;
}

} // namespace kelzar
