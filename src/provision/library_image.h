// The library image, embedded at build time from the zlib.dll built with the
// program (see cmake/embed_file.cmake).
#pragma once

#include <cstddef>

namespace kelzar {

extern const unsigned char kLibraryImage[];
extern const std::size_t kLibraryImageSize;

} // namespace kelzar
