// Turns a file on disk into one deflated archive entry.
#pragma once

#include "archive/entry_name.h"
#include "archive/zip_writer.h"
#include "win32/system.h"

#include <string>

namespace kelzar {

enum class EntryOutcome {
    Added,
    Unreadable,        // nothing was written for the file
    FailedPartWritten, // the file failed after its entry was begun: the archive holds a broken
                       // entry
    ArchiveFailed,     // the archive could not be written
};

// Reads the file from its start up to the size it had when it was opened,
// deflates it and writes it as the entry `name`, dated with its local
// last-write time. Unless the entry was added, `why` says what failed.
EntryOutcome AddFileEntry(ZipWriter& writer, sys::InputFile& file, const StoredName& name,
                          Failure& why);

} // namespace kelzar
