#include "archive/report.h"

namespace kelzar {

std::string DescribeFailure(const Failure& failure) {
    std::string line = "kelzar: cannot " + failure.operation;
    if (!failure.path.empty()) {
        line += " " + failure.path;
    }
    if (failure.code != 0) {
        line += " (error " + std::to_string(failure.code) + ")";
    }
    return line;
}

} // namespace kelzar
