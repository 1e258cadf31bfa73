// Archives for minizip, opened through the system layer's files with the
// buffered layer on top. minizip is handed a file that is already open
// rather than a name: the program decides how each archive is opened (the
// sharing, the attributes of a new one), and the one handle serves from
// creation to the flush that puts the archive on disk.
#pragma once

#include "archive/zip_writer.h"
#include "sys/files.h"

#include <unzip.h>
#include <zip.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace kelzar {

// How much of an archive being written has reached its file: the bytes
// below this offset are written through every buffer on the way and are
// never written again, so they may be read back while writing goes on.
// Written on the writing thread only, and read on others.
struct WrittenReach {
    std::atomic<std::uint64_t> bytes{0};
};

// What minizip is given for the "file name" of an archive it writes; it
// must outlive the archive. Bytes written at or past `divertFrom` do not go
// into the file but to `diverted`.
struct ArchiveFile {
    sys::RandomAccessFile* file = nullptr;
    WrittenReach* reach = nullptr; // when given, follows the writes
    std::uint64_t divertFrom = UINT64_MAX;
    std::vector<unsigned char>* diverted = nullptr;
};

// A new archive written into `file`, which must be empty, with its central
// directory kept in `spool` (empty, read and written) until the end. Both
// must outlive it; closing the archive leaves them open.
class SpooledArchive : public DirectorySpool {
  public:
    SpooledArchive(sys::RandomAccessFile& file, WrittenReach* reach, sys::RandomAccessFile& spool)
        : archive_{&file, reach}, spool_(spool) {}
    SpooledArchive(const SpooledArchive&) = delete;
    SpooledArchive& operator=(const SpooledArchive&) = delete;

    // The archive's first run of entries.
    zipFile Create();

    bool CloseDiverted(zipFile archive, std::uint64_t offset,
                       std::vector<unsigned char>& diverted) override;
    zipFile Continue() override;
    bool Keep(const unsigned char* data, std::size_t size) override;
    bool WriteKept(std::uint64_t offset, const std::vector<unsigned char>& tail) override;

  private:
    ArchiveFile archive_;
    sys::RandomAccessFile& spool_;
    std::uint64_t kept_ = 0;
};

// The archive `file` holds; `file` must outlive it.
unzFile OpenZipArchive(sys::RandomAccessFile& file);

} // namespace kelzar
