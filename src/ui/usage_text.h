#pragma once

#include <string>

namespace kelzar {

// The fifteen-line usage text, each line ended by CR LF.
std::string BuildUsageText();

} // namespace kelzar
