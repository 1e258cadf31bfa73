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

class ZipWriter {
  public:
    // Takes the archive that zipOpen2_64 or zipOpen3 gave; none makes a writer
    // that fails every call.
    explicit ZipWriter(zipFile archive) : archive_(archive) {}
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
    // The same, handed over once the archive is closed.
    WrittenEntries ReleaseWritten() { return std::move(written_); }
    // Where the next entry's local header goes.
    std::uint64_t NextEntryOffset() const { return nextOffset_; }

  private:
    zipFile archive_;
    WrittenEntry pending_;
    WrittenEntries written_;
    std::uint64_t nextOffset_ = 0;
};

} // namespace kelzar
