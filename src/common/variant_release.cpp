// The program as it is shipped: every archive is read back, nothing altered.
#include "common/variant.h"

namespace kelzar::variant {

const Build kBuild{};

} // namespace kelzar::variant
