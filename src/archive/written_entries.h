// The record of every entry written to an archive, kept until the archive
// has been read back. An archive may hold millions of entries, so the
// records are packed: names share their beginning with the name before
// them, numbers take as many bytes as they need, and all of it lies in
// blocks of a megabyte that are filled once and never moved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelzar {

// One entry as the writer wrote it.
struct WrittenEntry {
    std::string name; // the bytes stored
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localOffset = 0; // where its local header begins
    // Where its data begins, when they were already read back from the file
    // and found sound while the archive was being written.
    std::optional<std::uint64_t> checkedDataAt;
    std::uint32_t dosDateTime = 0;
    std::uint32_t crc = 0;
    std::uint16_t method = 8; // 0 stored, 8 deflated
    std::uint16_t utf8Flag = 0;
    bool zip64 = false; // its local header has room for 64-bit sizes
};

class WrittenEntries {
    // Where a record begins.
    struct Place {
        std::size_t block = 0;
        std::size_t offset = 0;
    };
    // Reading the records in order, from a place at which one begins.
    struct Cursor {
        std::size_t next = 0; // the index of the record at `at`
        Place at;
        std::uint64_t localOffset = 0; // of the record before, within its group
    };

  public:
    WrittenEntries() = default;
    WrittenEntries(WrittenEntries&&) = default;
    WrittenEntries& operator=(WrittenEntries&&) = default;

    // Appends an entry; its mark of data read back, if any, is kept too.
    void Add(const WrittenEntry& entry);
    std::size_t Count() const { return count_; }

    // Marks the data of the `index`th entry as read back and sound where
    // they begin, at `dataAt`. Cheapest when entries are marked in order.
    // False when there is no such entry, or when `dataAt` cannot be the
    // data of it (before its header or 4 GiB past it).
    bool MarkChecked(std::size_t index, std::uint64_t dataAt);

    // The entries in order, from one of them on.
    class Reader {
      public:
        // The next entry, or nullptr past the last; valid until the next call.
        const WrittenEntry* Next();

      private:
        friend class WrittenEntries;
        Reader(const WrittenEntries& entries, std::size_t first);

        const WrittenEntries* entries_;
        Cursor cursor_;
        WrittenEntry current_;
    };
    Reader From(std::size_t first = 0) const { return Reader(*this, first); }

  private:
    // Records are read from the start of a group of this many, where names
    // and offsets start afresh.
    static constexpr std::size_t kGroup = 64;
    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

    struct Block {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t size = 0;
        std::size_t used = 0;
    };

    // The place of the record at `cursor`, past which it then moves; fills
    // `entry` (whose name is that of the record before) when given one.
    Place Step(Cursor& cursor, WrittenEntry* entry) const;
    Cursor CursorAt(std::size_t index) const;
    void Store(const unsigned char* record, std::size_t size);

    std::vector<Block> blocks_;
    std::vector<Place> groups_; // where each group's first record begins
    std::size_t count_ = 0;
    // The last entry added, for the next one's shared name and offset.
    std::string lastName_;
    std::uint64_t lastOffset_ = 0;
    std::vector<unsigned char> record_;
    // Where marking goes on from; marks mostly come in order.
    Cursor mark_;
};

} // namespace kelzar
