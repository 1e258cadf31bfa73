// Opens archives through minizip's Win32 file layer, which seeks with 64-bit
// offsets (the C runtime's layer would cut them at 2 GiB).
#pragma once

#include <unzip.h>
#include <zip.h>

#include <string>

namespace kelzar::sys {

zipFile CreateZipFile(const std::string& path);
unzFile OpenZipFile(const std::string& path);

} // namespace kelzar::sys
