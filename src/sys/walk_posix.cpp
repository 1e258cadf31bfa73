// Folder listings: a directory read, matched as Windows matches patterns
// and sorted by name, as under Wine.
#include "sys/walk.h"

#include "sys/posix_internal.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace kelzar::sys {

using namespace detail;

namespace {

bool Matches(const std::string& pattern, const std::string& name) {
    if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) {
        return true;
    }
    // On Windows "*.*" (and any pattern ending in ".*") also matches names
    // without a dot.
    return pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
           name.find('.') == std::string::npos &&
           fnmatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

} // namespace

Listing ListEntries(const std::string& pattern) {
    std::string path = Posix(pattern);
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string names = slash == std::string::npos ? path : path.substr(slash + 1);
    Listing listing;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        listing.failure = Errno("list", pattern);
        return listing;
    }
    std::vector<std::string> found;
    while (struct dirent* entry = readdir(dir)) {
        if (Matches(names, entry->d_name)) {
            found.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    std::string key = folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
    std::size_t limit = SIZE_MAX;
    {
        std::lock_guard lock(Get().mutex);
        auto fails = Get().listingFailsAfter.find(key);
        if (fails != Get().listingFailsAfter.end()) {
            limit = fails->second;
        }
    }
    for (const std::string& name : found) {
        if (listing.entries.size() == limit) {
            listing.failure = Failure{EIO, "list to the end", pattern};
            break;
        }
        struct stat status {};
        std::string full = folder + name;
        if (stat(full.c_str(), &status) != 0 && lstat(full.c_str(), &status) != 0) {
            continue;
        }
        listing.entries.push_back(DirEntry{name, AttributesOf(full, status),
                                           static_cast<std::uint64_t>(status.st_size),
                                           ToFileTime(status.st_mtim)});
    }
    return listing;
}

} // namespace kelzar::sys
