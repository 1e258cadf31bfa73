// Writes a ZIP archive through minizip, entry by entry, taking each entry's
// bytes as they are to be stored (already compressed, or stored as they are).
#pragma once

#include "archive/verify.h"

#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelzar {

struct EntryHeader {
    std::string name;
    std::uint32_t dosDateTime = 0; // MS-DOS date in the high, time in the low 16 bits
    int method = Z_DEFLATED;       // 0 (stored) or 8 (deflated)
    int level = 6;                 // recorded in the flag bits of a deflated entry
    std::uint16_t utf8Flag = 0;    // 0x800 when the name is UTF-8
    bool zip64 = false;            // room for 64-bit sizes in the local header
};

// Deflate can grow data that does not compress by a few bytes per block; an
// entry that may come near 4 GiB either way gets room for 64-bit sizes.
constexpr bool NeedsZip64(std::uint64_t size) {
    return size + size / 1024 + (1u << 20) >= 0xFFFFFFFFull;
}

// minizip keeps the central directory in memory until the archive is
// closed: some 50 bytes and the name for every entry. A writer with a spool
// has minizip write the directory a run of entries at a time, kept aside
// rather than written, and keeps it in the spool; at the end it writes the
// spooled directory and the end records after the last entry itself, byte
// for byte as minizip would have. Its memory is then the same however many
// entries there are.
class DirectorySpool {
  public:
    virtual ~DirectorySpool() = default;
    // Closes `archive` with every byte minizip writes from `offset` on put
    // in `diverted` instead of the file; true when minizip's close succeeded.
    virtual bool CloseDiverted(zipFile archive, std::uint64_t offset,
                               std::vector<unsigned char>& diverted) = 0;
    // An archive that minizip goes on writing after what the file holds.
    virtual zipFile Continue() = 0;
    // Adds to the spooled directory.
    virtual bool Keep(const unsigned char* data, std::size_t size) = 0;
    // Writes the spooled directory into the archive at `offset`, then `tail`.
    virtual bool WriteKept(std::uint64_t offset, const std::vector<unsigned char>& tail) = 0;
};

struct DirectoryRuns {
    std::size_t entries = 4096;
    std::size_t bytes = 1 << 20; // of central headers, about
};

class ZipWriter {
  public:
    // Takes the archive that zipOpen2_64 or zipOpen3 gave; none makes a writer
    // that fails every call. With a spool (which must outlive the writer),
    // the directory goes there run by run.
    explicit ZipWriter(zipFile archive, DirectorySpool* spool = nullptr, DirectoryRuns runs = {})
        : archive_(archive), spool_(spool), runs_(runs) {}
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;
    // Only a backstop for a failed run: an archive that is not finished with
    // Close() is left incomplete and must not be used.
    ~ZipWriter();

    bool IsOpen() const { return archive_ != nullptr; }
    bool BeginEntry(const EntryHeader& header);
    bool WriteEntryData(const void* data, std::size_t size);
    // Ends the entry begun last; crc and size describe its content.
    bool EndEntry(std::uint32_t crc, std::uint64_t uncompressedSize);
    // Writes the central directory; the archive is complete only when this
    // returns true.
    bool Close();

    // Every entry ended so far, as it was written, in order: what reading the
    // archive back must find.
    const WrittenEntries& Written() const { return written_; }
    // The same, for the marks of the read-back made while it is written.
    WrittenEntries& Written() { return written_; }
    // The same, handed over once the archive is closed.
    WrittenEntries ReleaseWritten() { return std::move(written_); }
    // The entry ended last, as it was written.
    const WrittenEntry& LastWritten() const { return last_; }
    // Where the next entry's local header goes.
    std::uint64_t NextEntryOffset() const { return nextOffset_; }

  private:
    bool SpoolDirectory();
    std::vector<unsigned char> EndRecords() const;

    zipFile archive_;
    DirectorySpool* spool_;
    DirectoryRuns runs_;
    // The entries whose directory minizip holds, and about how many bytes.
    std::size_t entriesInRun_ = 0;
    std::size_t bytesInRun_ = 0;
    std::uint64_t spooledBytes_ = 0;
    std::vector<unsigned char> diverted_;
    WrittenEntry pending_;
    WrittenEntry last_;
    WrittenEntries written_;
    std::uint64_t nextOffset_ = 0;
};

} // namespace kelzar
