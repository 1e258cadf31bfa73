#include "win32/zip_files.h"

#include <windows.h>

#include <iowin32.h>

namespace kelzar::sys {

zipFile CreateZipFile(const std::string& path) {
    zlib_filefunc64_def functions;
    fill_win32_filefunc64A(&functions);
    return zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
}

unzFile OpenZipFile(const std::string& path) {
    zlib_filefunc64_def functions;
    fill_win32_filefunc64A(&functions);
    return unzOpen2_64(path.c_str(), &functions);
}

} // namespace kelzar::sys
