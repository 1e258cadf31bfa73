// Archives for minizip, opened through the system layer's files with the
// buffered layer on top. minizip is handed a file that is already open
// rather than a name: the program decides how each archive is opened (the
// sharing, the attributes of a new one), and the one handle serves from
// creation to the flush that puts the archive on disk.
#pragma once

#include "win32/system.h"

#include <unzip.h>
#include <zip.h>

namespace kelzar {

// A new archive written into `file`, which must be empty and outlive the
// archive; closing the archive leaves the file open.
zipFile CreateZipArchive(sys::RandomAccessFile& file);

// The archive `file` holds; `file` must outlive it.
unzFile OpenZipArchive(sys::RandomAccessFile& file);

} // namespace kelzar
