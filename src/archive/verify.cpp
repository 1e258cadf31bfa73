#include "archive/verify.h"

#include "archive/zip_bytes.h"
#include "sys/threads.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace kelzar {

namespace {

using namespace zip_bytes;

// Where the central directory lies and how many headers it holds.
struct Directory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t entries = 0;
};

// An entry's header fields as one header records them; 64-bit values come
// from the Zip64 extra field where the 32-bit ones are saturated.
struct Header {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t dosDateTime = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localOffset = 0;
    std::string name;
};

constexpr std::uint32_t kSaturated = 0xFFFFFFFF;

// Which header fields the Zip64 extra field holds, in the format's order.
struct Zip64Fields {
    bool uncompressedSize = false;
    bool compressedSize = false;
    bool localOffset = false;
    bool Any() const { return uncompressedSize || compressedSize || localOffset; }
};

// Reads the Zip64 values of the fields that stand saturated.
bool ApplyZip64Extra(const unsigned char* extra, std::size_t length, Header& header,
                     Zip64Fields fields) {
    while (length >= 4) {
        std::uint16_t id = U16(extra);
        std::uint16_t size = U16(extra + 2);
        if (size + 4u > length) {
            return false;
        }
        if (id == kZip64ExtraId) {
            const unsigned char* value = extra + 4;
            std::size_t left = size;
            auto take = [&](bool present, std::uint64_t& field) {
                if (!present) {
                    return true;
                }
                if (left < 8) {
                    return false;
                }
                field = U64(value);
                value += 8;
                left -= 8;
                return true;
            };
            return take(fields.uncompressedSize, header.uncompressedSize) &&
                   take(fields.compressedSize, header.compressedSize) &&
                   take(fields.localOffset, header.localOffset);
        }
        extra += size + 4u;
        length -= size + 4u;
    }
    return !fields.Any();
}

Result<Directory> FindDirectory(const ByteSource& archive) {
    const std::uint64_t size = archive.Size();
    // The program writes no archive comment: the end record is the last thing.
    unsigned char end[kEndSize];
    if (size < kEndSize || !archive.ReadAt(size - kEndSize, end, kEndSize) ||
        U32(end) != kEndSignature || U16(end + 20) != 0) {
        return Damaged("no end record at the end");
    }
    Directory directory{U32(end + 16), U32(end + 12), U16(end + 10)};
    if (U16(end + 10) != U16(end + 8) || U16(end + 4) != 0 || U16(end + 6) != 0) {
        return Damaged("end record counts disagree");
    }
    bool saturated = directory.offset == kSaturated || directory.size == kSaturated ||
                     directory.entries == 0xFFFF;
    unsigned char locator[kLocatorSize];
    bool hasLocator = size >= kEndSize + kLocatorSize &&
                      archive.ReadAt(size - kEndSize - kLocatorSize, locator, kLocatorSize) &&
                      U32(locator) == kZip64LocatorSignature;
    if (hasLocator) {
        unsigned char record[kZip64EndSize];
        std::uint64_t at = U64(locator + 8);
        if (!archive.ReadAt(at, record, kZip64EndSize) || U32(record) != kZip64EndSignature ||
            at + kZip64EndSize != size - kEndSize - kLocatorSize) {
            return Damaged("Zip64 end record");
        }
        directory = Directory{U64(record + 48), U64(record + 40), U64(record + 32)};
    } else if (saturated) {
        return Damaged("saturated end record without Zip64 records");
    }
    if (directory.offset > size || directory.size > size - directory.offset) {
        return Damaged("central directory outside the archive");
    }
    return directory;
}

// Reads the central headers one after the other (never the whole directory
// at once: it grows with the entries) and checks each against what was
// written. What was written then stands for the central header, except for
// the flags, which the writer does not record; they are returned, entry by
// entry, for the local headers to be compared with.
Result<std::vector<std::uint16_t>>
ReadCentral(const ByteSource& archive, const Directory& directory, const WrittenEntries& expected) {
    if (directory.entries != expected.Count()) {
        return Damaged("entry count " + std::to_string(directory.entries) + ", written " +
                       std::to_string(expected.Count()));
    }
    WindowedSource window(archive);
    std::vector<std::uint16_t> flags;
    flags.reserve(expected.Count());
    std::vector<unsigned char> rest;
    const std::uint64_t directoryEnd = directory.offset + directory.size;
    std::uint64_t at = directory.offset;
    WrittenEntries::Reader entries = expected.From(0);
    while (const WrittenEntry* written = entries.Next()) {
        const WrittenEntry& want = *written;
        unsigned char h[kCentralSize];
        if (directoryEnd - at < kCentralSize || !window.ReadAt(at, h, kCentralSize) ||
            U32(h) != kCentralSignature) {
            return Damaged("central header of " + want.name);
        }
        std::size_t nameLength = U16(h + 28);
        std::size_t extraLength = U16(h + 30);
        std::size_t commentLength = U16(h + 32);
        if (directoryEnd - at - kCentralSize < nameLength + extraLength + commentLength) {
            return Damaged("central header of " + want.name + " overruns the directory");
        }
        rest.resize(nameLength + extraLength);
        if (!rest.empty() && !window.ReadAt(at + kCentralSize, rest.data(), rest.size())) {
            return Damaged("central header of " + want.name + " unreadable");
        }
        Header header{U16(h + 8),  U16(h + 10),
                      U32(h + 12), U32(h + 16),
                      U32(h + 20), U32(h + 24),
                      U32(h + 42), std::string(rest.begin(), rest.begin() + nameLength)};
        // A central header holds in its Zip64 field just the values that
        // stand saturated.
        Zip64Fields fields{header.uncompressedSize == kSaturated,
                           header.compressedSize == kSaturated, header.localOffset == kSaturated};
        if (!ApplyZip64Extra(rest.data() + nameLength, extraLength, header, fields)) {
            return Damaged("Zip64 field of " + want.name);
        }
        if (header.name != want.name || (header.flags & 0x800) != want.utf8Flag ||
            header.method != want.method || header.dosDateTime != want.dosDateTime ||
            header.crc != want.crc || header.compressedSize != want.compressedSize ||
            header.uncompressedSize != want.uncompressedSize ||
            header.localOffset != want.localOffset || (header.flags & 0x9) != 0) {
            return Damaged("central header of " + want.name + " is not what was written");
        }
        flags.push_back(header.flags);
        at += kCentralSize + nameLength + extraLength + commentLength;
    }
    if (at != directoryEnd) {
        return Damaged("central directory holds more than was written");
    }
    return flags;
}

// The local header must say what the central one says, which is what was
// written with the central header's `flags`; returns where the entry's data
// begin.
Result<std::uint64_t> CheckLocalHeader(const ByteSource& archive, const WrittenEntry& central,
                                       std::uint16_t flags) {
    unsigned char h[kLocalHeaderSize];
    if (!archive.ReadAt(central.localOffset, h, kLocalHeaderSize) || U32(h) != kLocalSignature) {
        return Damaged("no local header for " + central.name);
    }
    std::size_t nameLength = U16(h + 26);
    std::size_t extraLength = U16(h + 28);
    std::vector<unsigned char> rest(nameLength + extraLength);
    if (!rest.empty() &&
        !archive.ReadAt(central.localOffset + kLocalHeaderSize, rest.data(), rest.size())) {
        return Damaged("local header of " + central.name + " cut short");
    }
    Header local{
        U16(h + 6),          U16(h + 8),
        U32(h + 10),         U32(h + 14),
        U32(h + 18),         U32(h + 22),
        central.localOffset, std::string(reinterpret_cast<const char*>(rest.data()), nameLength)};
    // A local header's Zip64 field holds both sizes when either stands
    // saturated.
    bool saturated = local.compressedSize == kSaturated || local.uncompressedSize == kSaturated;
    if (!ApplyZip64Extra(rest.data() + nameLength, extraLength, local,
                         Zip64Fields{saturated, saturated, false}) ||
        local.name != central.name || local.flags != flags || local.method != central.method ||
        local.dosDateTime != central.dosDateTime || local.crc != central.crc ||
        local.compressedSize != central.compressedSize ||
        local.uncompressedSize != central.uncompressedSize) {
        return Damaged("local header of " + central.name + " disagrees with the central one");
    }
    return central.localOffset + kLocalHeaderSize + nameLength + extraLength;
}

// Makes `buffer` hold at least `size` bytes; it only grows, so that the
// entries after a large one find it ready. Its room is had at once for the
// largest entry inflated whole: moving it to a larger block as it grew
// would touch fresh pages each time (room never written to costs none).
void Reserve(std::vector<unsigned char>& buffer, std::size_t size) {
    if (buffer.capacity() < size) {
        buffer.reserve(std::max(size, kWholeInflateLimit + kWholeInflateLimit / 64 + 4096));
    }
    if (buffer.size() < size) {
        buffer.resize(std::max(size, kPiece));
    }
}

// Entries are dealt out in runs of consecutive entries of about equal work:
// their data, or only their local header for those already read back.
std::uint64_t WorkOf(const WrittenEntry& entry) {
    return kLocalHeaderSize + (entry.checkedDataAt ? 0 : entry.compressedSize);
}

std::vector<std::size_t> SplitByWork(const WrittenEntries& headers, unsigned parts) {
    std::uint64_t total = 0;
    WrittenEntries::Reader all = headers.From(0);
    while (const WrittenEntry* h = all.Next()) {
        total += WorkOf(*h);
    }
    std::vector<std::size_t> starts{0};
    std::uint64_t sum = 0;
    WrittenEntries::Reader again = headers.From(0);
    for (std::size_t i = 0; i < headers.Count() && starts.size() < parts; ++i) {
        sum += WorkOf(*again.Next());
        if (sum * parts >= total * starts.size()) {
            starts.push_back(i + 1);
        }
    }
    starts.push_back(headers.Count());
    return starts;
}

// Entries lie one after the other, in the order of the directory, before it.
Status CheckOrder(const WrittenEntries& expected, std::uint64_t directoryOffset) {
    WrittenEntries::Reader entries = expected.From(0);
    const WrittenEntry* entry = entries.Next();
    for (std::string name; entry != nullptr;) {
        const std::uint64_t offset = entry->localOffset;
        name = entry->name;
        entry = entries.Next();
        if (offset >= (entry != nullptr ? entry->localOffset : directoryOffset)) {
            return Damaged("entries out of order at " + name);
        }
    }
    return Status::Done();
}

} // namespace

Status WindowedSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    if (size >= buffer_.size()) {
        // Through the window it would only be copied once more.
        return source_.ReadAt(offset, buffer, size);
    }
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        if (offset < start_ || offset >= start_ + length_) {
            if (offset >= source_.Size()) {
                return Damaged("read past the end");
            }
            length_ = static_cast<std::size_t>(
                std::min<std::uint64_t>(buffer_.size(), source_.Size() - offset));
            start_ = offset;
            if (Status read = source_.ReadAt(start_, buffer_.data(), length_); !read) {
                length_ = 0;
                return read;
            }
        }
        auto at = static_cast<std::size_t>(offset - start_);
        std::size_t piece = std::min(size, length_ - at);
        std::memcpy(out, buffer_.data() + at, piece);
        out += piece;
        offset += piece;
        size -= piece;
    }
    return Status::Done();
}

// How the data of the entry begun are checked.
enum class EntryMode {
    Stored, // taken as they are
    Whole,  // gathered, then inflated in one call
    Pieces, // inflated piece by piece as they come
};

struct EntryDataCheck::State {
    explicit State(std::size_t limit) : wholeLimit(limit), whole(libdeflate_alloc_decompressor()) {}
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() { libdeflate_free_decompressor(whole); }

    z_stream stream{};
    bool ready = false;
    const std::size_t wholeLimit;
    libdeflate_decompressor* const whole; // none: every entry in pieces
    std::string name;
    EntryMode mode = EntryMode::Stored;
    bool ended = false;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::uint64_t produced = 0;
    // For entries inflated whole, kept from one entry to the next: the data
    // as taken (unless given at once) and what they inflate to.
    std::vector<unsigned char> gathered;
    std::unique_ptr<unsigned char[]> wholeOut; // wholeLimit bytes, once needed
    unsigned char out[kPiece];

    Status Fail(const char* what) const { return Damaged("data of " + name + " " + what); }

    void Produced(const unsigned char* data, std::size_t length) {
        crc = libdeflate_crc32(crc, data, length);
        produced += length;
    }

    // More than deflate's stored blocks add to data of wholeLimit bytes: a
    // sound stream gathered whole never comes near it.
    std::uint64_t GatherLimit() const { return std::uint64_t{wholeLimit} + wholeLimit / 64 + 4096; }

    Status Overrun() const {
        return produced > size ? Fail("inflate to more than their size") : Status::Done();
    }

    Status StartPieces();
    Status InflatePiece(const unsigned char* data, std::size_t length);
    Status Inflate(const unsigned char* data, std::size_t length);
    Status CheckEnd(std::uint32_t want) const;
    Status Gather(const unsigned char* data, std::size_t length);
    Status InflateWhole(const unsigned char* data, std::size_t length, std::uint32_t want);
    Status Diagnose(const unsigned char* data, std::size_t length, std::uint32_t want);
};

Status EntryDataCheck::State::StartPieces() {
    mode = EntryMode::Pieces;
    if (!ready || inflateReset(&stream) != Z_OK) {
        return Fail("cannot be inflated");
    }
    return Status::Done();
}

// At most kPiece bytes.
Status EntryDataCheck::State::InflatePiece(const unsigned char* data, std::size_t length) {
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(length);
    while (stream.avail_in > 0 && !ended) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        int result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            return Fail("do not inflate");
        }
        Produced(out, sizeof out - stream.avail_out);
        ended = result == Z_STREAM_END;
    }
    // Nothing may follow the end of the stream within the entry.
    if (stream.avail_in != 0) {
        return Fail("go on past the end of their stream");
    }
    return Overrun();
}

Status EntryDataCheck::State::Inflate(const unsigned char* data, std::size_t length) {
    for (std::size_t done = 0; done < length;) {
        std::size_t piece = std::min(length - done, kPiece);
        if (Status inflated = InflatePiece(data + done, piece); !inflated) {
            return inflated;
        }
        done += piece;
    }
    return Status::Done();
}

Status EntryDataCheck::State::CheckEnd(std::uint32_t want) const {
    if (!ended || produced != size || crc != want) {
        return Fail("fail their size or CRC");
    }
    return Status::Done();
}

Status EntryDataCheck::State::Gather(const unsigned char* data, std::size_t length) {
    if (gathered.size() + length <= GatherLimit()) {
        if (gathered.capacity() < GatherLimit()) {
            gathered.reserve(static_cast<std::size_t>(GatherLimit())); // never moved as it fills
        }
        gathered.insert(gathered.end(), data, data + length);
        return Status::Done();
    }
    // More than a sound stream of the entry's size holds: the rest is
    // inflated as it comes, after what was gathered.
    if (Status started = StartPieces(); !started) {
        return started;
    }
    if (Status inflated = Inflate(gathered.data(), gathered.size()); !inflated) {
        return inflated;
    }
    return Inflate(data, length);
}

Status EntryDataCheck::State::InflateWhole(const unsigned char* data, std::size_t length,
                                           std::uint32_t want) {
    const auto expected = static_cast<std::size_t>(size); // at most wholeLimit
    if (!wholeOut) {
        // Had once, for the largest entry, and left unset: only the pages
        // that entries inflate into are ever touched.
        wholeOut.reset(new unsigned char[std::max<std::size_t>(wholeLimit, 1)]);
    }
    std::size_t in = 0;
    std::size_t got = 0;
    libdeflate_result result =
        libdeflate_deflate_decompress_ex(whole, data, length, wholeOut.get(), expected, &in, &got);
    // The stream must take up all of the data, nothing after its end.
    if (result == LIBDEFLATE_SUCCESS && in == length && got == expected &&
        libdeflate_crc32(0, wholeOut.get(), got) == want) {
        return Status::Done();
    }
    return Diagnose(data, length, want);
}

// Data that failed the whole inflate are inflated again in pieces, for the
// fault to be named as it is for larger entries (damage is rare; its cost
// does not matter).
Status EntryDataCheck::State::Diagnose(const unsigned char* data, std::size_t length,
                                       std::uint32_t want) {
    if (Status started = StartPieces(); !started) {
        return started;
    }
    Status status = Inflate(data, length);
    if (status) {
        status = CheckEnd(want);
    }
    // Should zlib take what libdeflate refused, the data still fail.
    return status ? Fail("do not inflate") : status;
}

EntryDataCheck::EntryDataCheck(std::size_t wholeLimit)
    : state_(std::make_unique<State>(wholeLimit)) {
    state_->ready = inflateInit2(&state_->stream, -MAX_WBITS) == Z_OK;
}

EntryDataCheck::~EntryDataCheck() {
    if (state_->ready) {
        inflateEnd(&state_->stream);
    }
}

Status EntryDataCheck::Begin(const std::string& name, int method, std::uint64_t size) {
    State& s = *state_;
    s.name = name;
    s.size = size;
    s.crc = 0;
    s.produced = 0;
    s.gathered.clear();
    s.ended = method != Z_DEFLATED;
    if (s.ended) {
        s.mode = EntryMode::Stored;
        return Status::Done();
    }
    if (s.whole != nullptr && size <= s.wholeLimit) {
        s.mode = EntryMode::Whole;
        return Status::Done();
    }
    return s.StartPieces();
}

bool EntryDataCheck::TakesWhole(std::uint64_t stored) const {
    const State& s = *state_;
    return s.mode == EntryMode::Whole && s.gathered.empty() && stored <= s.GatherLimit();
}

Status EntryDataCheck::Take(const unsigned char* data, std::size_t size) {
    State& s = *state_;
    switch (s.mode) {
    case EntryMode::Stored:
        s.Produced(data, size);
        return s.Overrun();
    case EntryMode::Whole:
        return s.Gather(data, size);
    case EntryMode::Pieces:
        return s.Inflate(data, size);
    }
    return Status::Done();
}

Status EntryDataCheck::End(std::uint32_t crc) {
    State& s = *state_;
    if (s.mode == EntryMode::Whole) {
        return s.InflateWhole(s.gathered.data(), s.gathered.size(), crc);
    }
    return s.CheckEnd(crc);
}

Status EntryDataCheck::TakeAll(const unsigned char* data, std::size_t size, std::uint32_t crc) {
    if (TakesWhole(size)) {
        return state_->InflateWhole(data, size, crc);
    }
    for (std::size_t done = 0; done < size;) {
        std::size_t piece = std::min(size - done, kPiece);
        if (Status taken = Take(data + done, piece); !taken) {
            return taken;
        }
        done += piece;
    }
    return End(crc);
}

// Reads the entry's data from the archive into the check: in one read when
// the check inflates them whole, else piece by piece.
Status CheckEntryData(const ByteSource& archive, std::uint64_t at, const WrittenEntry& entry,
                      EntryDataCheck& check, std::vector<unsigned char>& buffer) {
    if (Status begun = check.Begin(entry.name, entry.method, entry.uncompressedSize); !begun) {
        return begun;
    }
    if (check.TakesWhole(entry.compressedSize)) {
        auto size = static_cast<std::size_t>(entry.compressedSize);
        Reserve(buffer, size);
        if (!archive.ReadAt(at, buffer.data(), size)) {
            return Damaged("data of " + entry.name + " unreadable");
        }
        return check.TakeAll(buffer.data(), size, entry.crc);
    }
    Reserve(buffer, kPiece);
    for (std::uint64_t done = 0; done < entry.compressedSize;) {
        auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, entry.compressedSize - done));
        if (!archive.ReadAt(at + done, buffer.data(), piece)) {
            return Damaged("data of " + entry.name + " unreadable");
        }
        done += piece;
        if (Status taken = check.Take(buffer.data(), piece); !taken) {
            return taken;
        }
    }
    return check.End(entry.crc);
}

Result<std::uint64_t> DataStart(const ByteSource& archive, std::uint64_t localOffset,
                                const std::string& name) {
    unsigned char header[kLocalHeaderSize];
    if (Status read = archive.ReadAt(localOffset, header, sizeof header); !read) {
        return read.Why();
    }
    if (U32(header) != kLocalSignature || U16(header + 26) != name.size()) {
        return Damaged("no local header for " + name + " where it was written");
    }
    return localOffset + kLocalHeaderSize + U16(header + 26) + U16(header + 28);
}

Status VerifyArchive(const ByteSource& archive, const WrittenEntries& expected, unsigned workers,
                     std::size_t wholeLimit) {
    Result<Directory> directory = FindDirectory(archive);
    if (!directory) {
        return directory.Why();
    }
    Result<std::vector<std::uint16_t>> flags = ReadCentral(archive, *directory, expected);
    if (!flags) {
        return flags.Why();
    }
    if (Status ordered = CheckOrder(expected, directory->offset); !ordered) {
        return ordered;
    }
    std::vector<std::size_t> runs = SplitByWork(expected, std::max(1u, workers));
    std::vector<Status> outcomes(runs.size() - 1);
    std::atomic<bool> failed{false};
    Status ran = sys::RunInParallel(static_cast<unsigned>(outcomes.size()), [&](unsigned part) {
        EntryDataCheck check(wholeLimit);
        std::vector<unsigned char> buffer;
        WindowedSource window(archive);
        WrittenEntries::Reader entries = expected.From(runs[part]);
        WrittenEntries::Reader following = expected.From(runs[part] + 1);
        for (std::size_t i = runs[part]; i < runs[part + 1] && !failed; ++i) {
            const WrittenEntry& entry = *entries.Next();
            const WrittenEntry* next = following.Next();
            const std::uint64_t nextOffset =
                next != nullptr ? next->localOffset : directory->offset;
            Result<std::uint64_t> data = CheckLocalHeader(window, entry, (*flags)[i]);
            Status status = !data ? Status(data.Why())
                            : *data + entry.compressedSize > nextOffset
                                ? Status(Damaged("data of " + entry.name + " overlaps the next"))
                            : entry.checkedDataAt
                                ? (*entry.checkedDataAt == *data
                                       ? Status::Done()
                                       : Status(Damaged("data of " + entry.name +
                                                        " are not where they were read back")))
                                : CheckEntryData(window, *data, entry, check, buffer);
            if (!status) {
                outcomes[part] = status;
                failed = true;
            }
        }
    });
    if (!ran) {
        return ran;
    }
    for (const Status& outcome : outcomes) {
        if (!outcome) {
            return outcome;
        }
    }
    return Status::Done();
}

} // namespace kelzar
