// The POSIX implementation of the system layer (the sys/*_posix.cpp files),
// which the native unit tests link, and the controls those tests use to make
// the system misbehave.
//
// It behaves as the Windows layer does where the program depends on it: "\"
// and "/" both separate folders; a listing matches names without regard to
// case and comes sorted by name, as under Wine; "*.*" matches names without a
// dot too; names beginning with "." are hidden; links to folders are
// followed and a folder's identity is that of its target. Hidden and system
// attributes set through the layer live in memory only. The stand-in for the
// ANSI code page is ISO 8859-1.
#pragma once

#include <cstdint>
#include <string>

namespace kelzar::posix {

// Listings of the folder `folder` (a POSIX path) yield `entries` entries and
// then fail, as a search that breaks off part-way does.
void FailListingAfter(const std::string& folder, std::size_t entries);

// Asking the identity of the file or folder at `path` (a POSIX path; any
// spelling of it) fails with "access denied".
void FailIdentityOf(const std::string& path);

// Reads of the file `path` fail once `bytes` bytes of it have been read.
void FailReadsAfter(const std::string& path, std::uint64_t bytes);

// Moves that would replace `to` fail with the error `code` (by default a
// lasting one, EACCES; EBUSY counts as another program's brief hold).
void FailMovesOnto(const std::string& to, std::uint32_t code = 13);

// Moves onto `to` fail as held by another program until `ms` milliseconds
// from now have passed.
void HoldAgainstMovesFor(const std::string& to, unsigned ms);

// Writes fail once `bytes` more bytes have been written, in any file: a
// full disk.
void FailWritesAfter(std::uint64_t bytes);

// RunInParallel can start only `threads` more threads in each call: the
// system has no more to give.
void FailThreadsAfter(std::size_t threads);

// Forgets every control and every attribute set.
void Reset();

} // namespace kelzar::posix
