// A build for fault injection: every parallel run gets one thread besides
// its own, and the next one it asks for is refused, as a system short of
// memory or of address space refuses it. The run must end at once with
// exit 1 and the archive as it was, never wait for a thread that does not
// exist.
#include "common/variant.h"

namespace kelzar::variant {

const Build kBuild{.threadsBeforeRefusal = 1};

} // namespace kelzar::variant
