// The program as it is shipped: every archive is read back, nothing altered.
#include "common/variant.h"

namespace kelzar::variant {

bool VerifiesBeforeCommit() {
    return true;
}

bool AltersArchiveWrites() {
    return false;
}

void AlterArchiveWrite(std::uint64_t, unsigned char*, std::size_t) {}

unsigned ThreadsBeforeRefusal() {
    return kNoThreadLimit;
}

} // namespace kelzar::variant
