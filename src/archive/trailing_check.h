// Reads the entries of an archive back while the archive is still being
// written: each entry's data are read from the file as soon as they have
// reached it and checked as the final read-back would check them, so that
// the read-back overlaps with compressing and writing instead of following
// them. The final read-back then checks these entries' headers only.
#pragma once

#include "archive/verify.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kelzar {

class TrailingCheck {
  public:
    // `file` reads the archive file; its Size() is how far the written bytes
    // have reached the file, and only those are read.
    explicit TrailingCheck(const ByteSource& file) : file_(file), window_(file) {}

    // The entry just begun, whose local header the writer put at
    // `localOffset`, is to be read back; it holds `size` bytes of content.
    void Follow(const std::string& name, int method, std::uint64_t localOffset, std::uint64_t size);
    // `bytes` more of the entry's data have been written.
    void Grew(std::uint64_t bytes);
    // The entry is complete; it is the `index`th of the archive's entries.
    void Ended(std::size_t index, std::uint32_t crc, std::uint64_t size);

    // Reads back whatever of the followed entries has reached the file, and
    // marks in `entries` (the writer's) the data of every entry found sound.
    Status Advance(WrittenEntries& entries);
    // Once the archive is finished: reads back and marks the rest.
    Status Finish(WrittenEntries& entries);

  private:
    struct Followed {
        std::string name;
        int method = 8;
        std::uint64_t localOffset = 0;
        std::uint64_t size = 0;
        std::uint64_t dataAt = 0; // once the local header has been read
        bool begun = false;
        std::uint64_t written = 0; // of its data
        std::uint64_t checked = 0; // of its data
        bool ended = false;
        std::size_t index = 0;
        std::uint32_t crc = 0;
        std::uint64_t endedSize = 0;
    };
    Status BeginFront(Followed& entry, std::uint64_t reach);

    const ByteSource& file_;
    // The file is read in large pieces as far as it has been written, and
    // the entries, which lie one after the other, taken from them.
    WindowedSource window_;
    std::vector<unsigned char> piece_;
    std::deque<Followed> followed_;
    EntryDataCheck check_;
};

} // namespace kelzar
