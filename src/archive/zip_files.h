// Archives for minizip, opened through the system layer's files with the
// buffered layer on top. minizip is handed a file that is already open
// rather than a name: the program decides how each archive is opened (the
// sharing, the attributes of a new one), and the one handle serves from
// creation to the flush that puts the archive on disk.
#pragma once

#include "sys/files.h"

#include <unzip.h>
#include <zip.h>

namespace kelzar {

// How much of an archive being written has reached its file: the bytes
// below this offset are written through every buffer on the way and are
// never written again, so they may be read back while writing goes on.
struct WrittenReach {
    std::uint64_t bytes = 0;
};

// A new archive written into `file`, which must be empty and outlive the
// archive; closing the archive leaves the file open. `reach`, when given,
// follows the writes.
zipFile CreateZipArchive(sys::RandomAccessFile& file, WrittenReach* reach = nullptr);

// The archive `file` holds; `file` must outlive it.
unzFile OpenZipArchive(sys::RandomAccessFile& file);

} // namespace kelzar
