// What special builds of the program change, for the tests and the
// benchmarks: the program links variant_release.cpp; a build for fault
// injection or for measuring links another file in its place (chosen by
// CMake, never by the program at run time).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelzar::variant {

// Whether a new archive is read back before it replaces the old one.
bool VerifiesBeforeCommit();

// Whether this build alters bytes on their way into an archive file.
bool AltersArchiveWrites();

// Called with each piece about to be written at `offset` of an archive file,
// when AltersArchiveWrites().
void AlterArchiveWrite(std::uint64_t offset, unsigned char* data, std::size_t size);

// How many threads a parallel run may start besides its own before the
// system is taken to refuse the next one (kNoThreadLimit: as many as it
// asks for).
constexpr unsigned kNoThreadLimit = ~0u;
unsigned ThreadsBeforeRefusal();

} // namespace kelzar::variant
