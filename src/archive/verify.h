// Reading a just-written archive back before it may replace anything: the
// central directory and the local headers must agree with each other and
// with what the writer put in, entry for entry and in order, and every
// entry's data must inflate to its recorded size with its recorded CRC.
// Independent of minizip: it reads the bytes as any other reader would.
#pragma once

#include "common/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelzar {

// One entry as the writer wrote it.
struct WrittenEntry {
    std::string name; // the bytes stored
    std::uint16_t utf8Flag = 0;
    int method = 8; // 0 stored, 8 deflated
    std::uint32_t dosDateTime = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
};

// Positional reads from the archive; safe to call from several threads.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Fills all of `size` bytes at `offset`, or fails.
    virtual Status ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const = 0;
    virtual std::uint64_t Size() const = 0;
};

// Done when the archive holds exactly `expected`, sound. The entries' data
// is checked on up to `workers` threads at once.
Status VerifyArchive(const ByteSource& archive, const std::vector<WrittenEntry>& expected,
                     unsigned workers);

} // namespace kelzar
