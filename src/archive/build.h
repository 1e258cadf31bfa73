// Builds a complete new archive in the target's temporary file and puts it
// in place: first whatever the caller carries over, then the files.
#pragma once

#include "archive/archive_target.h"
#include "archive/carry_over.h"
#include "archive/entry_pipeline.h"
#include "archive/zip_writer.h"

#include <functional>
#include <string>
#include <vector>

namespace kelzar {

struct BuildResult {
    std::size_t found = 0; // files there were to store
    int added = 0;         // files stored in the archive now in place
    bool allAdded = false; // every file that should have been stored was
    bool inPlace = false;  // the new archive replaced the target
};

// One worker per processor.
unsigned DefaultWorkers();

// Files that cannot be read are left out and make allAdded false. When no
// file is stored, or anything fails while the archive is written, the target
// is left as it was. Every failure goes to the target's report. The files
// are read and compressed on `workers` threads.
BuildResult BuildArchive(ArchiveTarget& target, const std::vector<FileToAdd>& files,
                         const CarryOver& carryOver, unsigned workers = DefaultWorkers());

// The same for files that `find` emits while the archive is already being
// written (the emitted index is ignored): finding overlaps with compressing.
// `find` is called once more if the archive must be written again.
// When it finds none, nothing is written and the report says so.
BuildResult BuildArchive(ArchiveTarget& target, const FileFeed& find, const CarryOver& carryOver,
                         unsigned workers = DefaultWorkers());

} // namespace kelzar
