// What the POSIX implementation files of the system layer share: the state
// behind the fault controls of sys/posix_faults.h and behind what POSIX has
// no place for (hidden and system attributes, delete-on-close, what each
// open descriptor names), and the translations of paths, times, attributes
// and failures into the layer's terms. Private to src/sys.
#pragma once

#include "common/result.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kelzar::sys::detail {

struct Controls {
    std::mutex mutex;
    std::map<std::string, std::size_t> listingFailsAfter;
    std::map<std::string, std::uint64_t> readsFailAfter;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unidentifiable; // (device, inode)
    struct MoveFault {
        std::uint32_t code;
        std::uint64_t untilMs; // monotonic time; the largest value for good
    };
    std::map<std::string, MoveFault> movesFailOnto;
    std::uint64_t writesLeft = UINT64_MAX;
    std::size_t threadsLeft = SIZE_MAX;              // threads RunInParallel may still start
    std::map<std::string, std::uint32_t> attributes; // hidden and system bits by path
    std::map<int, std::string> paths;                // what each open descriptor names
    std::map<int, std::uint64_t> readSoFar;
    std::set<int> deleteOnClose;
};

Controls& Get();

// The path with "\\" as "/": both separate folders, as under Windows.
std::string Posix(std::string path);

// A POSIX time as a FILETIME.
std::uint64_t ToFileTime(const struct timespec& time);

// The last component of a path.
std::string NameOf(const std::string& path);

// The layer's attributes of what `status` describes at `path`: a dot name is
// hidden, a file without write permission read-only, and the hidden and
// system bits set through the layer are added.
std::uint32_t AttributesOf(const std::string& path, const struct stat& status);

// The failure errno tells of.
Failure Errno(const char* operation, const std::string& path);

} // namespace kelzar::sys::detail
