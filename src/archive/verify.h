// Reading a just-written archive back before it may replace anything: the
// central directory and the local headers must agree with each other and
// with what the writer put in, entry for entry, in order and where it put
// them, and every entry's data must inflate to its recorded size with its
// recorded CRC (entries whose data were read back while the archive was
// written are not read again).
// Independent of minizip: it reads the bytes as any other reader would.
#pragma once

#include "archive/written_entries.h"
#include "common/result.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelzar {

// The fixed fields of a local header, before the name.
constexpr std::size_t kLocalHeaderSize = 30;

// Positional reads from the archive; safe to call from several threads.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Fills all of `size` bytes at `offset`, or fails.
    virtual Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const = 0;
    virtual std::uint64_t Size() const = 0;
};

// A source read in large pieces rather than header by header (every read
// is a system call, and costly under some systems), served from memory: at
// most a megabyte from where a read falls outside what it holds, up to the
// source's Size() at that moment. A read of a megabyte or more goes straight
// to the source.
class WindowedSource : public ByteSource {
  public:
    explicit WindowedSource(const ByteSource& source) : source_(source), buffer_(1 << 20) {}
    Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const override;
    std::uint64_t Size() const override { return source_.Size(); }

  private:
    const ByteSource& source_;
    mutable std::vector<unsigned char> buffer_;
    mutable std::uint64_t start_ = 0;
    mutable std::size_t length_ = 0;
};

// Deflated entries of up to this size are inflated whole, in one call, into
// a buffer the check keeps (several times faster than inflating in pieces);
// larger ones are inflated in pieces, with memory that does not grow with
// them. Each of up to eight read-back threads may keep twice this much: the
// limit holds most files of a tree and keeps that within 64 MiB.
constexpr std::size_t kWholeInflateLimit = std::size_t{4} << 20;

// Checks one entry's data as they come, piece by piece: they must inflate
// (or, stored, be taken as they are) to exactly the recorded size and CRC.
class EntryDataCheck {
  public:
    // Deflated entries of up to `wholeLimit` bytes are inflated whole.
    explicit EntryDataCheck(std::size_t wholeLimit = kWholeInflateLimit);
    EntryDataCheck(const EntryDataCheck&) = delete;
    EntryDataCheck& operator=(const EntryDataCheck&) = delete;
    ~EntryDataCheck();

    // Starts on the data of an entry with this method and size.
    Status Begin(const std::string& name, int method, std::uint64_t size);
    // Whether the begun entry, with `stored` bytes of data, is best given
    // whole to TakeAll (it is then inflated from where they lie).
    bool TakesWhole(std::uint64_t stored) const;
    // The entry's next bytes as stored.
    Status Take(const unsigned char* data, std::size_t size);
    // All of the entry's bytes have been taken.
    Status End(std::uint32_t crc);
    // All of the entry's bytes at once, then End(crc).
    Status TakeAll(const unsigned char* data, std::size_t size, std::uint32_t crc);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Where the data of the entry named `name` begin, as its local header at
// `localOffset` says: damage unless a local header with a name of that
// length is there.
Result<std::uint64_t> DataStart(const ByteSource& archive, std::uint64_t localOffset,
                                const std::string& name);

// Checks the data of `entry`, which begin at `dataAt`: they must inflate
// (or, stored, be taken as they are) to its recorded size and CRC.
// `buffer` is the check's room, kept from entry to entry.
Status CheckEntryData(const ByteSource& archive, std::uint64_t dataAt, const WrittenEntry& entry,
                      EntryDataCheck& check, std::vector<unsigned char>& buffer);

// Done when the archive holds exactly `expected`, sound. The entries' data
// is checked on up to `workers` threads at once, deflated entries of up to
// `wholeLimit` bytes inflated whole.
Status VerifyArchive(const ByteSource& archive, const WrittenEntries& expected, unsigned workers,
                     std::size_t wholeLimit = kWholeInflateLimit);

} // namespace kelzar
