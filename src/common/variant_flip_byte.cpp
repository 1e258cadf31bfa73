// A build for fault injection: one bit of every archive it writes is wrong,
// as a fault in the file layer, in minizip or on the disk would make it. The
// read-back must catch it, so that this build never replaces an archive.
#include "common/variant.h"

namespace kelzar::variant {

namespace {

// Past the first local header of any entry with a short name: in its data.
constexpr std::uint64_t kFlippedOffset = 100;

void FlipOneBit(std::uint64_t offset, unsigned char* data, std::size_t size) {
    if (offset <= kFlippedOffset && kFlippedOffset < offset + size) {
        data[kFlippedOffset - offset] ^= 0x10;
    }
}

} // namespace

const Build kBuild{.alterArchiveWrite = FlipOneBit};

} // namespace kelzar::variant
