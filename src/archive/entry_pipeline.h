// Prepares the entries of the files to add on worker threads, one per
// processor: each file is opened (by the feed, which measures it then), read
// in large pieces and deflated, a large
// file in blocks of its own compressed apart and joined into one deflate
// stream (each block primed with the 32 KiB before it, ended at a byte
// boundary, the CRCs combined), while the caller's thread writes what is
// ready. Pieces come to the caller in listing order and depend only on the
// files' bytes, so the archive is the same whatever the number of threads or
// their timing. At most a fixed amount of data is in flight: never a whole
// large file in memory.
#pragma once

#include "archive/entry_name.h"
#include "common/calendar_time.h"
#include "common/result.h"
#include "select/file_to_add.h"
#include "sys/files.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelzar {

// What the workers hand over, piece by piece.
struct EntryPiece {
    enum class Kind {
        Whole,   // a file's entire entry
        Block,   // one block of a file stored in several
        LeftOut, // the file cannot be stored (the failure says why)
        Own,     // the file is the archive itself: never stored, no failure
    };
    Kind kind = Kind::LeftOut;
    std::size_t file = 0; // index into the files
    unsigned block = 0;   // which block of the file's blocks
    unsigned blocks = 1;  // how many blocks the file has
    StoredName name;      // for Whole and the first Block
    std::uint32_t dosDateTime = 0;
    std::vector<unsigned char> deflated;
    std::uint32_t crc = 0;      // of this piece's content
    std::uint64_t size = 0;     // of this piece's content
    std::uint64_t fileSize = 0; // of the whole file's content
    Failure failure;            // for LeftOut
    std::string path;           // for LeftOut: the file's path
};

struct PipelineOptions {
    unsigned workers = 1;
    // Files of more than this are compressed in blocks of this size.
    std::size_t blockSize = 1 << 20;
    // Whether a file with this listing name may be one of the archive's own
    // files, and whether the opened file is.
    std::function<bool(const std::string& name)> mayBeOwn;
    std::function<bool(const sys::FileId& id)> isOwn;
};

// Prepares every file the feed emits (the feed runs on a thread of its own
// while the workers already compress what it has emitted; EntryPiece::file
// is the index it gave) and calls `consume` with each piece in
// order on the calling thread, until all are consumed or `consume` returns
// false. Fails, having done nothing, when its threads cannot be had.
Status RunEntryPipeline(const FileFeed& feed, const PipelineOptions& options,
                        const std::function<bool(EntryPiece&)>& consume);

} // namespace kelzar
