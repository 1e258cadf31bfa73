// What special builds of the program change, for the tests and the
// benchmarks: the program links variant_release.cpp; a build for fault
// injection or for measuring links another file in its place (chosen by
// CMake, never by the program at run time).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelzar::variant {

// As many threads as a parallel run asks for.
constexpr unsigned kNoThreadLimit = ~0u;

// What a build does differently; the program's own build changes nothing.
struct Build {
    // Whether a new archive is read back before it replaces the old one.
    bool verifiesBeforeCommit = true;
    // Called with each piece about to be written at `offset` of an archive
    // file, to alter it; none leaves every piece as it is.
    void (*alterArchiveWrite)(std::uint64_t offset, unsigned char* data,
                              std::size_t size) = nullptr;
    // How many threads a parallel run may start besides its own before the
    // system is taken to refuse the next one.
    unsigned threadsBeforeRefusal = kNoThreadLimit;
};

// Defined by the one variant file linked in.
extern const Build kBuild;

inline bool VerifiesBeforeCommit() {
    return kBuild.verifiesBeforeCommit;
}

inline bool AltersArchiveWrites() {
    return kBuild.alterArchiveWrite != nullptr;
}

inline void AlterArchiveWrite(std::uint64_t offset, unsigned char* data, std::size_t size) {
    kBuild.alterArchiveWrite(offset, data, size);
}

inline unsigned ThreadsBeforeRefusal() {
    return kBuild.threadsBeforeRefusal;
}

} // namespace kelzar::variant
