#include "sys/posix_internal.h"

#include "sys/files.h"

#include <algorithm>
#include <cerrno>

namespace kelzar::sys::detail {

Controls& Get() {
    static Controls controls;
    return controls;
}

std::string Posix(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::uint64_t ToFileTime(const struct timespec& time) {
    constexpr std::uint64_t kEpochDifference = 11644473600ull; // 1601 to 1970, in seconds
    return (static_cast<std::uint64_t>(time.tv_sec) + kEpochDifference) * 10000000ull +
           static_cast<std::uint64_t>(time.tv_nsec) / 100;
}

std::string NameOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::uint32_t AttributesOf(const std::string& path, const struct stat& status) {
    std::uint32_t attributes = 0;
    if (S_ISDIR(status.st_mode)) {
        attributes |= sys::kAttributeDirectory;
    }
    if ((status.st_mode & S_IWUSR) == 0) {
        attributes |= sys::kAttributeReadOnly;
    }
    std::string name = NameOf(path);
    if (name.size() > 1 && name[0] == '.' && name != "..") {
        attributes |= sys::kAttributeHidden;
    }
    std::lock_guard lock(Get().mutex);
    auto set = Get().attributes.find(path);
    return set == Get().attributes.end() ? attributes : attributes | set->second;
}

Failure Errno(const char* operation, const std::string& path) {
    return Failure{static_cast<std::uint32_t>(errno), operation, path};
}

} // namespace kelzar::sys::detail
