// A build for the benchmarks only: archives are not read back, so that the
// cost of reading them back can be measured against it. Never shipped.
#include "common/variant.h"

namespace kelzar::variant {

bool VerifiesBeforeCommit() {
    return false;
}

bool AltersArchiveWrites() {
    return false;
}

void AlterArchiveWrite(std::uint64_t, unsigned char*, std::size_t) {}

unsigned ThreadsBeforeRefusal() {
    return kNoThreadLimit;
}

} // namespace kelzar::variant
