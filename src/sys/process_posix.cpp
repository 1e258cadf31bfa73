// The process: nothing to set up, no command line of the Windows kind, and
// no debugger's channel.
#include "sys/process.h"

#include <unistd.h>

#include <cerrno>
#include <climits>

namespace kelzar::sys {

void PrepareProcess() {}

void DebugLog(const std::string&) {}

bool IsTransientHold(const Failure& failure) {
    return failure.code == EBUSY || failure.code == ETXTBSY;
}

std::string GetCommandLineText() {
    return {};
}

std::string GetExeFilePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

} // namespace kelzar::sys
