// Text helpers for Windows paths. They never touch the file system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kelzar {

// Up to and including the last backslash; empty without one. "/" does not count.
std::string GetDirectoryPart(std::string_view path);

// After the last backslash or slash; the whole text without either.
std::string GetFileNamePart(std::string_view path);

// The file-name part up to its first ".".
std::string GetBaseName(std::string_view path);

// The file-name part after its last ".", without the dot; empty without a dot.
std::string GetExtension(std::string_view path);

// Appends "\" unless the text is empty or already ends in "\".
std::string AddTrailingBackslash(std::string_view text);

// The folder part of a path as the system reads it: up to and including its
// last "\", "/" or ":". Joined with a name in that folder, it names that file
// (also for "d:name").
std::string GetListingFolder(std::string_view pattern);

// The name a file is stored under in the folder-tree mode, from its full
// path ("\" as separator): the path less its root (a drive "d:", a share
// "\\server\share", or their "\\?\" and "\\.\" forms) and less its
// leading backslashes, with "." components dropped and ".." taking back the
// component before it (never past the root). An archive then never holds a
// name that leads out of the folder it is extracted into, and every
// spelling of one file gives it the same name.
std::string EntryNameOfPath(std::string_view path);

// True when the text holds "*" or "?".
bool HasWildcards(std::string_view path);

// A file size as the listing record shows it: digits grouped by "," in
// threes, preceded by one space for each of the nine digit places left empty.
std::string FormatSizeField(std::uint64_t size);

} // namespace kelzar
