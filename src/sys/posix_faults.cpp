#include "sys/posix_faults.h"

#include "sys/posix_internal.h"
#include "sys/threads.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

namespace kelzar::posix {

using sys::detail::Get;

void FailListingAfter(const std::string& folder, std::size_t entries) {
    std::lock_guard lock(Get().mutex);
    std::string key = folder;
    while (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    Get().listingFailsAfter[key] = entries;
}

void FailIdentityOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        std::lock_guard lock(Get().mutex);
        Get().unidentifiable.emplace_back(status.st_dev, status.st_ino);
    }
}

void FailReadsAfter(const std::string& path, std::uint64_t bytes) {
    std::lock_guard lock(Get().mutex);
    Get().readsFailAfter[path] = bytes;
}

void FailMovesOnto(const std::string& to, std::uint32_t code) {
    std::lock_guard lock(Get().mutex);
    Get().movesFailOnto[to] = {code, UINT64_MAX};
}

void HoldAgainstMovesFor(const std::string& to, unsigned ms) {
    std::uint64_t until = sys::MonotonicMs() + ms;
    std::lock_guard lock(Get().mutex);
    Get().movesFailOnto[to] = {EBUSY, until};
}

void FailWritesAfter(std::uint64_t bytes) {
    std::lock_guard lock(Get().mutex);
    Get().writesLeft = bytes;
}

void FailThreadsAfter(std::size_t threads) {
    std::lock_guard lock(Get().mutex);
    Get().threadsLeft = threads;
}

void Reset() {
    std::lock_guard lock(Get().mutex);
    Get().listingFailsAfter.clear();
    Get().readsFailAfter.clear();
    Get().unidentifiable.clear();
    Get().movesFailOnto.clear();
    Get().writesLeft = UINT64_MAX;
    Get().threadsLeft = SIZE_MAX;
    Get().attributes.clear();
}

} // namespace kelzar::posix
