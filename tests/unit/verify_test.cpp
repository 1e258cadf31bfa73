// Reading an archive back before it may replace anything: a sound archive
// passes, and each kind of damage a faulty layer, library or disk could do
// is caught.
#include "archive/deflater.h"
#include "archive/kept_check.h"
#include "archive/trailing_check.h"
#include "archive/verify.h"
#include "archive/zip_writer.h"
#include "memory_io.h"
#include "scratch.h"
#include "sys/threads.h"
#include "written_records.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace kelzar {
namespace {

using Bytes = std::vector<unsigned char>;

class MemoryBytes : public ByteSource {
  public:
    explicit MemoryBytes(Bytes bytes) : bytes_(std::move(bytes)) {}
    Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override {
        if (offset > bytes_.size() || size > bytes_.size() - offset) {
            return Failure{0, "read past the end", {}};
        }
        std::memcpy(buffer, bytes_.data() + offset, size);
        return Status::Done();
    }
    std::uint64_t Size() const override { return bytes_.size(); }

  private:
    Bytes bytes_;
};

using testing::Packed;
using testing::Unpacked;

struct Written {
    Bytes archive;
    std::vector<WrittenEntry> entries;
};

// Deflated entries of this size and larger are checked in pieces under the
// smaller limit, whole under the program's own.
constexpr std::size_t kSmallLimit = 1000;
const std::size_t kLimits[] = {kWholeInflateLimit, kSmallLimit};

// Three entries as the program writes them: deflated (with `first` for data),
// stored (as carried raw) and deflated with room for Zip64 sizes, one with a
// UTF-8 name.
Written WriteArchive(const std::string& first = testing::CompressibleText(200'000, 1)) {
    testing::MemoryFile file;
    ZipWriter writer(zipOpen2_64("a.zip", APPEND_STATUS_CREATE, nullptr, file.Functions()));
    auto deflated = [&](const std::string& name, const std::string& data, bool zip64,
                        std::uint16_t utf8) {
        EntryHeader header;
        header.name = name;
        header.dosDateTime = 0x5A2E7C21;
        header.zip64 = zip64;
        header.utf8Flag = utf8;
        Deflater deflater;
        auto sink = [&](const unsigned char* bytes, std::size_t size) {
            return writer.WriteEntryData(bytes, size);
        };
        EXPECT_TRUE(writer.BeginEntry(header) && deflater.Feed(data.data(), data.size(), sink) &&
                    deflater.Finish(sink) && writer.EndEntry(deflater.Crc(), deflater.BytesIn()));
    };
    deflated("first.txt", first, false, 0);
    EntryHeader stored;
    stored.name = "stored.bin";
    stored.method = 0;
    std::string raw = "kept as it was";
    EXPECT_TRUE(writer.BeginEntry(stored) && writer.WriteEntryData(raw.data(), raw.size()) &&
                writer.EndEntry(
                    static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(raw.data()),
                                                     static_cast<uInt>(raw.size()))),
                    raw.size()));
    deflated("\xD0\xB6-zip64.txt", testing::CompressibleText(5'000, 2), true, 0x800);
    std::vector<WrittenEntry> entries = Unpacked(writer.Written());
    EXPECT_TRUE(writer.Close());
    return {file.Bytes(), entries};
}

std::size_t Find(const Bytes& bytes, const std::string& text, std::size_t from = 0) {
    auto at = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                          text.begin(), text.end());
    return static_cast<std::size_t>(at - bytes.begin());
}

TEST(VerifyArchive, PassesWhatWasWritten) {
    Written written = WriteArchive();
    for (std::size_t limit : kLimits) {
        for (unsigned workers : {1u, 2u, 8u}) {
            EXPECT_TRUE(VerifyArchive(MemoryBytes(written.archive), Packed(written.entries),
                                      workers, limit))
                << workers << " workers, limit " << limit;
        }
    }
}

// Data larger than the read-back's window (a megabyte), read whole.
TEST(VerifyArchive, ChecksDataLargerThanItsWindow) {
    Written written = WriteArchive(testing::Incompressible(1'500'000));
    ASSERT_GT(written.entries[0].compressedSize, std::uint64_t{1} << 20);
    Written damaged = written;
    damaged.archive[damaged.archive.size() / 2] ^= 0x10;
    for (std::size_t limit : kLimits) {
        EXPECT_TRUE(VerifyArchive(MemoryBytes(written.archive), Packed(written.entries), 2, limit))
            << limit;
        EXPECT_FALSE(VerifyArchive(MemoryBytes(damaged.archive), Packed(damaged.entries), 2, limit))
            << limit;
    }
}

struct Damage {
    const char* what;
    std::function<void(Written&)> apply;
};

class VerifyCatches : public ::testing::TestWithParam<Damage> {};

TEST_P(VerifyCatches, TheDamage) {
    Written written = WriteArchive();
    GetParam().apply(written);
    for (std::size_t limit : kLimits) {
        Status status =
            VerifyArchive(MemoryBytes(written.archive), Packed(written.entries), 2, limit);
        EXPECT_FALSE(status) << GetParam().what << " went unnoticed, limit " << limit;
    }
}

const std::uint16_t kLocalCrcOffset = 14;

INSTANTIATE_TEST_SUITE_P(
    Damages, VerifyCatches,
    ::testing::Values(
        Damage{"a bit of deflated data", [](Written& w) { w.archive[1000] ^= 0x10; }},
        Damage{"a byte of stored data",
               [](Written& w) { w.archive[Find(w.archive, "kept as it was")] ^= 1; }},
        Damage{"the local CRC of the first entry",
               [](Written& w) { w.archive[kLocalCrcOffset] ^= 1; }},
        Damage{"the central CRC and the written record alike",
               [](Written& w) {
                   std::size_t central = Find(w.archive, "PK\x01\x02");
                   w.archive[central + 16] ^= 1;
                   w.entries[0].crc ^= 1;
               }},
        Damage{"a local name", [](Written& w) { w.archive[30] = 'F'; }},
        Damage{"a central name",
               [](Written& w) { w.archive[Find(w.archive, "first.txt", 100)] = 'F'; }},
        Damage{"the archive cut short", [](Written& w) { w.archive.resize(w.archive.size() - 1); }},
        Damage{"bytes after the end record", [](Written& w) { w.archive.push_back(0); }},
        Damage{"an entry written but not in the archive",
               [](Written& w) { w.entries.push_back(w.entries.back()); }},
        Damage{"an entry in the archive that was not written",
               [](Written& w) { w.entries.pop_back(); }},
        Damage{"entries in another order",
               [](Written& w) { std::swap(w.entries[0], w.entries[1]); }},
        Damage{"another date", [](Written& w) { w.entries[1].dosDateTime ^= 2; }},
        Damage{"the UTF-8 flag lost", [](Written& w) { w.entries[2].utf8Flag = 0; }},
        Damage{"another size than was written",
               [](Written& w) { w.entries[1].uncompressedSize += 1; }},
        Damage{"the data of an entry overlapping the next", [](Written& w) {
                   // The second entry's local header moved one byte early in
                   // the central directory.
                   std::size_t central = Find(w.archive, "PK\x01\x02");
                   std::size_t second = Find(w.archive, "PK\x01\x02", central + 4);
                   w.archive[second + 42] -= 1;
               }}));

// One entry's data as stored, with the method, size and CRC its headers give.
struct EntryData {
    Bytes stored;
    int method = Z_DEFLATED;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

std::uint32_t Crc(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// `data` deflated raw, as entries are; with `flushEvery`, a full flush after
// every that many bytes: a sound stream, but many times longer.
Bytes RawDeflate(const std::string& data, std::size_t flushEvery = 0) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::size_t step = flushEvery > 0 ? flushEvery : std::max<std::size_t>(data.size(), 1);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 16 * (data.size() / step + 1));
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    for (std::size_t done = 0;;) {
        std::size_t piece = std::min(step, data.size() - done);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + done));
        z.avail_in = static_cast<uInt>(piece);
        done += piece;
        if (done == data.size()) {
            EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
            break;
        }
        EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

EntryData Deflated(const std::string& data, std::size_t flushEvery = 0) {
    return {RawDeflate(data, flushEvery), Z_DEFLATED, data.size(), Crc(data)};
}

EntryData Stored(const std::string& data) {
    return {Bytes(data.begin(), data.end()), 0, data.size(), Crc(data)};
}

// What a case's data must give: Done, or this failure ("" for one of any kind).
constexpr const char* kSound = nullptr;
constexpr const char* kAnyFault = "";

struct EntryCase {
    const char* what;
    std::function<EntryData()> make;
    const char* fault;
};

EntryData Text() {
    return Deflated(testing::CompressibleText(200'000, 7));
}

EntryData Changed(EntryData entry, const std::function<void(EntryData&)>& change) {
    change(entry);
    return entry;
}

const EntryCase kEntryCases[] = {
    {"sound", Text, kSound},
    {"one bit flipped",
     [] { return Changed(Text(), [](EntryData& e) { e.stored[e.stored.size() / 2] ^= 0x10; }); },
     kAnyFault},
    {"the stream cut short",
     [] { return Changed(Text(), [](EntryData& e) { e.stored.resize(e.stored.size() - 10); }); },
     "fail their size or CRC"},
    {"a byte after the end of the stream",
     [] { return Changed(Text(), [](EntryData& e) { e.stored.push_back(0); }); },
     "go on past the end of their stream"},
    {"a declared size one too large",
     [] { return Changed(Text(), [](EntryData& e) { e.size += 1; }); }, "fail their size or CRC"},
    {"a declared size one too small",
     [] { return Changed(Text(), [](EntryData& e) { e.size -= 1; }); },
     "inflate to more than their size"},
    // Declared within the smaller limit, with far more data than such a
    // stream could hold.
    {"a declared size far too small",
     [] { return Changed(Text(), [](EntryData& e) { e.size = 100; }); },
     "inflate to more than their size"},
    {"a wrong CRC", [] { return Changed(Text(), [](EntryData& e) { e.crc ^= 1; }); },
     "fail their size or CRC"},
    {"a sound stream padded with flushes",
     [] { return Deflated(testing::CompressibleText(kSmallLimit, 3), 1); }, kSound},
    {"an empty stream", [] { return Deflated(""); }, kSound},
    {"stored, sound", [] { return Stored("kept as it was"); }, kSound},
    {"stored, a byte changed",
     [] { return Changed(Stored("kept as it was"), [](EntryData& e) { e.stored[3] ^= 1; }); },
     "fail their size or CRC"},
    {"stored, more than declared",
     [] { return Changed(Stored("kept as it was"), [](EntryData& e) { e.size -= 1; }); },
     "inflate to more than their size"},
};

void PrintTo(const EntryCase& entryCase, std::ostream* out) {
    *out << entryCase.what;
}

// How the data reach the check: in pieces as the file grows (the check
// that follows the writer), or all at once (the final read-back).
enum class Feed { Pieces, AtOnce };

void PrintTo(Feed feed, std::ostream* out) {
    *out << (feed == Feed::Pieces ? "in pieces" : "at once");
}

Status CheckEntry(EntryDataCheck& check, const EntryData& entry, Feed feed) {
    if (Status begun = check.Begin("entry.txt", entry.method, entry.size); !begun) {
        return begun;
    }
    if (feed == Feed::AtOnce) {
        return check.TakeAll(entry.stored.data(), entry.stored.size(), entry.crc);
    }
    for (std::size_t done = 0; done < entry.stored.size(); done += 777) {
        std::size_t piece = std::min<std::size_t>(777, entry.stored.size() - done);
        if (Status taken = check.Take(entry.stored.data() + done, piece); !taken) {
            return taken;
        }
    }
    return check.End(entry.crc);
}

std::string Verdict(const Status& status) {
    return status ? "done" : status.Why().operation;
}

using EntryParam = std::tuple<EntryCase, std::size_t, Feed>;

class EntryDataChecks : public ::testing::TestWithParam<EntryParam> {};

TEST_P(EntryDataChecks, GiveTheVerdictTheDataDeserve) {
    const auto& [entryCase, limit, feed] = GetParam();
    EntryDataCheck check(limit);
    Status status = CheckEntry(check, entryCase.make(), feed);
    if (entryCase.fault == kSound) {
        EXPECT_TRUE(status) << Verdict(status);
    } else {
        ASSERT_FALSE(status) << "went unnoticed";
        EXPECT_EQ(status.Why().operation.rfind(
                      "verify: data of entry.txt " + std::string(entryCase.fault), 0),
                  0u)
            << Verdict(status);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EntryDataChecks,
                         ::testing::Combine(::testing::ValuesIn(kEntryCases),
                                            ::testing::ValuesIn(kLimits),
                                            ::testing::Values(Feed::Pieces, Feed::AtOnce)),
                         [](const ::testing::TestParamInfo<EntryParam>& tested) {
                             std::string name = std::get<0>(tested.param).what;
                             name += std::get<1>(tested.param) == kSmallLimit ? " small limit"
                                                                              : " program limit";
                             name += std::get<2>(tested.param) == Feed::Pieces ? " in pieces"
                                                                               : " at once";
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

// Whether inflated whole or in pieces, given in pieces or at once, damage is
// named alike; and a check that has seen other entries, of either kind,
// gives the verdict a new one gives.
TEST(EntryDataCheck, NamesTheFaultAlikeWhateverTheWayAndHistory) {
    EntryDataCheck reused(kSmallLimit);
    EntryDataCheck reusedWhole;
    for (const EntryCase& entryCase : kEntryCases) {
        const EntryData entry = entryCase.make();
        std::map<std::string, std::vector<std::string>> verdicts;
        for (std::size_t limit : kLimits) {
            for (Feed feed : {Feed::Pieces, Feed::AtOnce}) {
                EntryDataCheck fresh(limit);
                verdicts[Verdict(CheckEntry(fresh, entry, feed))].push_back("fresh");
            }
        }
        for (EntryDataCheck* check : {&reused, &reusedWhole}) {
            for (Feed feed : {Feed::Pieces, Feed::AtOnce}) {
                verdicts[Verdict(CheckEntry(*check, entry, feed))].push_back("reused");
            }
        }
        EXPECT_EQ(verdicts.size(), 1u)
            << entryCase.what << ": " << ::testing::PrintToString(verdicts);
    }
}

// Enough stored entries with long names that the central directory spans
// more than one of the read-back's windows (a megabyte).
Written WriteManyEntries(std::size_t count) {
    testing::MemoryFile file;
    ZipWriter writer(zipOpen2_64("a.zip", APPEND_STATUS_CREATE, nullptr, file.Functions()));
    for (std::size_t i = 0; i < count; ++i) {
        EntryHeader header;
        header.name = "folder/" + std::string(100, 'n') + std::to_string(i) + ".txt";
        header.method = 0;
        std::string data = std::to_string(i);
        EXPECT_TRUE(writer.BeginEntry(header) && writer.WriteEntryData(data.data(), data.size()) &&
                    writer.EndEntry(static_cast<std::uint32_t>(
                                        crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                              static_cast<uInt>(data.size()))),
                                    data.size()));
    }
    std::vector<WrittenEntry> entries = Unpacked(writer.Written());
    EXPECT_TRUE(writer.Close());
    return {file.Bytes(), entries};
}

TEST(VerifyArchive, ReadsACentralDirectoryLargerThanItsWindow) {
    const std::size_t count = 8'000;
    Written written = WriteManyEntries(count);
    const std::size_t central = Find(written.archive, "PK\x01\x02");
    ASSERT_GT(written.archive.size() - central, std::size_t{1} << 20);
    EXPECT_TRUE(VerifyArchive(MemoryBytes(written.archive), Packed(written.entries), 2));
    // The last central header, a megabyte past the first: its name and, in
    // a second archive, its CRC (changed in the written record too, so that
    // only the local header tells).
    Written renamed = written;
    renamed.archive[renamed.archive.size() - 22 - 10] ^= 1;
    EXPECT_FALSE(VerifyArchive(MemoryBytes(renamed.archive), Packed(renamed.entries), 2));
    Written other = written;
    const std::size_t last = Find(other.archive, "PK\x01\x02", other.archive.size() - 200);
    other.archive[last + 16] ^= 1;
    other.entries.back().crc ^= 1;
    EXPECT_FALSE(VerifyArchive(MemoryBytes(other.archive), Packed(other.entries), 2));
}

// The archive as far as it has reached its file, while it is written.
class GrowingBytes : public ByteSource {
  public:
    explicit GrowingBytes(const Bytes& bytes) : bytes_(bytes) {}
    void Reach(std::uint64_t bytes) { reach_ = std::min<std::uint64_t>(bytes, bytes_.size()); }
    Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override {
        if (offset + size > reach_.load()) {
            return Failure{0, "read beyond what was written", {}};
        }
        std::memcpy(buffer, bytes_.data() + offset, size);
        return Status::Done();
    }
    std::uint64_t Size() const override { return reach_; }

  private:
    const Bytes& bytes_;
    std::atomic<std::uint64_t> reach_{0}; // grown on one thread, read on another
};

// Follows the entries in `follow` as the writer would, the file growing
// `step` bytes at a time (each entry's data written in two halves), and
// finishes; `entries` gets the marks.
Status ReadBackWhileWriting(const Bytes& archive, const std::vector<WrittenEntry>& entries,
                            WrittenEntries& packed, const std::vector<std::size_t>& follow,
                            std::uint64_t step) {
    GrowingBytes file(archive);
    TrailingCheck check(file);
    std::uint64_t reach = 0;
    auto grow = [&](std::uint64_t to) {
        for (; reach < to; reach = std::min(reach + step, to)) {
            file.Reach(reach);
            if (Status advanced = check.Advance(packed); !advanced) {
                return advanced;
            }
        }
        file.Reach(reach);
        return check.Advance(packed);
    };
    for (std::size_t index : follow) {
        const WrittenEntry& entry = entries[index];
        check.Follow(entry.name, entry.method, entry.localOffset, entry.uncompressedSize);
        std::uint64_t half = entry.compressedSize / 2;
        std::uint64_t dataAt =
            entry.localOffset + kLocalHeaderSize + entry.name.size() + (entry.zip64 ? 20 : 0);
        check.Grew(half);
        if (Status grown = grow(dataAt + half); !grown) {
            return grown;
        }
        check.Grew(entry.compressedSize - half);
        check.Ended(index, entry.crc, entry.uncompressedSize);
        if (Status grown = grow(dataAt + entry.compressedSize); !grown) {
            return grown;
        }
    }
    file.Reach(archive.size());
    return check.Finish(packed);
}

Status ReadBackWhileWriting(const Bytes& archive, std::vector<WrittenEntry>& entries,
                            const std::vector<std::size_t>& follow, std::uint64_t step) {
    WrittenEntries packed = Packed(entries);
    Status status = ReadBackWhileWriting(archive, entries, packed, follow, step);
    entries = Unpacked(packed);
    return status;
}

TEST(TrailingCheck, MarksWhatItReadBackWhateverTheFileReached) {
    for (std::uint64_t step : {1u, 4096u, 1u << 30}) {
        Written written = WriteArchive();
        // The stored entry stands for one carried over: not followed.
        ASSERT_TRUE(ReadBackWhileWriting(written.archive, written.entries, {0, 2}, step)) << step;
        EXPECT_TRUE(written.entries[0].checkedDataAt && !written.entries[1].checkedDataAt &&
                    written.entries[2].checkedDataAt)
            << step;
        EXPECT_TRUE(VerifyArchive(MemoryBytes(written.archive), Packed(written.entries), 2))
            << step;
    }
}

TEST(TrailingCheck, CatchesDamageBeforeTheArchiveIsFinished) {
    const WrittenEntry first = WriteArchive().entries[0];
    const std::size_t dataAt = kLocalHeaderSize + first.name.size();
    // Its header's signature, its data's first, middle and last byte.
    for (std::size_t at : {std::size_t{0}, dataAt, dataAt + first.compressedSize / 2,
                           dataAt + first.compressedSize - 1}) {
        Written written = WriteArchive();
        written.archive[at] ^= 0x10;
        EXPECT_FALSE(ReadBackWhileWriting(written.archive, written.entries, {0}, 4096)) << at;
    }
}

TEST(TrailingCheck, AnEntryMarkedAtAnotherPlaceFailsTheReadBack) {
    Written written = WriteArchive();
    ASSERT_TRUE(ReadBackWhileWriting(written.archive, written.entries, {0, 2}, 4096));
    *written.entries[2].checkedDataAt += 1;
    EXPECT_FALSE(VerifyArchive(MemoryBytes(written.archive), Packed(written.entries), 2));
}

// Where an entry's data end, as the writer lays entries out.
std::uint64_t EndOf(const WrittenEntry& e) {
    return e.localOffset + kLocalHeaderSize + e.name.size() + (e.zip64 ? 20 : 0) + e.compressedSize;
}

struct KeptRun {
    Status status;
    std::vector<WrittenEntry> entries; // with the marks
};

std::size_t CountMarked(const std::vector<WrittenEntry>& entries) {
    return static_cast<std::size_t>(std::count_if(
        entries.begin(), entries.end(), [](auto& e) { return e.checkedDataAt.has_value(); }));
}

// Follows the entries as a copy would, on one thread, while another reads
// them back; after the `i`th entry the file has reached `reach(i)` bytes.
// The copy ends once `awaited` entries are marked (or after 20 seconds).
KeptRun CheckWhileCopying(const Written& written,
                          const std::function<std::uint64_t(std::size_t)>& reach,
                          std::size_t awaited) {
    GrowingBytes file(written.archive);
    KeptCheck kept(file);
    WrittenEntries packed;
    Status ran = sys::RunInParallel(2, [&](unsigned part) {
        if (part == 1) {
            kept.Run();
            return;
        }
        bool followed = true;
        for (std::size_t i = 0; i < written.entries.size() && followed; ++i) {
            packed.Add(written.entries[i]);
            file.Reach(reach(i));
            followed = kept.Follow(i, written.entries[i], packed);
        }
        const std::uint64_t deadline = sys::MonotonicMs() + 20'000;
        while (followed && CountMarked(Unpacked(packed)) < awaited &&
               sys::MonotonicMs() < deadline) {
            sys::SleepMs(1);
            followed = kept.TakeMarks(packed);
        }
        kept.Stop();
    });
    Status finished = kept.Finish(packed);
    return {ran ? finished : ran, Unpacked(packed)};
}

struct KeptCase {
    const char* what;
    std::size_t count;  // entries in the archive (3: the varied ones)
    std::size_t behind; // entries the file lags behind the copy
    bool allAtLast;     // the whole file reached once the last entry is copied
    std::size_t marked; // of the entries, the first found sound meanwhile
    // Marks beyond those that may come or not: with the whole file reached
    // before the last entry is followed, the checking thread may take one
    // entry off a full queue first, and the last entry then finds room.
    std::size_t mayAlso = 0;
};

class KeptCheckReads : public ::testing::TestWithParam<KeptCase> {};

// The marks are those of the entries whose bytes had reached the file by
// the end of the copy (which here waits for them), and the final read-back
// passes with them.
TEST_P(KeptCheckReads, TheEntriesThatReachedTheFile) {
    const KeptCase& c = GetParam();
    Written written = c.count == 3 ? WriteArchive() : WriteManyEntries(c.count);
    auto reach = [&](std::size_t i) -> std::uint64_t {
        if (c.allAtLast && i + 1 == c.count) {
            return written.archive.size();
        }
        return i >= c.behind ? EndOf(written.entries[i - c.behind]) : 0;
    };
    KeptRun run = CheckWhileCopying(written, reach, c.marked);
    ASSERT_TRUE(run.status) << c.what << ": " << run.status.Why().operation;
    EXPECT_GE(CountMarked(run.entries), c.marked) << c.what;
    EXPECT_LE(CountMarked(run.entries), c.marked + c.mayAlso) << c.what;
    for (std::size_t i = 0; i < c.marked; ++i) {
        const WrittenEntry& e = run.entries[i];
        ASSERT_EQ(e.checkedDataAt, EndOf(e) - e.compressedSize) << c.what << ", entry " << i;
    }
    EXPECT_TRUE(VerifyArchive(MemoryBytes(written.archive), Packed(run.entries), 2)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Reaches, KeptCheckReads,
    ::testing::Values(KeptCase{"each entry on the file once copied", 3, 0, false, 3},
                      KeptCase{"the file one entry behind", 3, 1, false, 2},
                      KeptCase{"nothing on the file before the copy ends", 3, 3, false, 0},
                      KeptCase{"4,000 entries, the file 100 behind", 4'000, 100, false, 3'900},
                      // Those past the most that wait are left to the final
                      // read-back.
                      KeptCase{"10,000 entries, on the file only with the last", 10'000, 10'000,
                               true, 4'096, 1}));

TEST(KeptCheck, StopsTheCopyAtAnEntryThatIsNotSound) {
    const Written sound = WriteArchive();
    const std::size_t dataOfFirst = kLocalHeaderSize + sound.entries[0].name.size();
    // A byte of the first entry's data; the second entry's local signature.
    for (std::size_t at : {dataOfFirst + 100, std::size_t(sound.entries[1].localOffset)}) {
        Written damaged = sound;
        damaged.archive[at] ^= 0x10;
        KeptRun run = CheckWhileCopying(
            damaged, [&](std::size_t i) { return EndOf(damaged.entries[i]); }, 3);
        EXPECT_FALSE(run.status) << "damage at " << at;
    }
}

} // namespace
} // namespace kelzar
