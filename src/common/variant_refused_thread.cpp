// A build for fault injection: every parallel run gets one thread besides
// its own, and the next one it asks for is refused, as a system short of
// memory or of address space refuses it. The run must end at once with
// exit 1 and the archive as it was, never wait for a thread that does not
// exist.
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
    return 1;
}

} // namespace kelzar::variant
