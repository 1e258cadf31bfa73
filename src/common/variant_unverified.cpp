// A build for the benchmarks only: archives are not read back, so that the
// cost of reading them back can be measured against it. Never shipped.
#include "common/variant.h"

namespace kelzar::variant {

const Build kBuild{.verifiesBeforeCommit = false};

} // namespace kelzar::variant
