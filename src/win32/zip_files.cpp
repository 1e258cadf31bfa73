#include "win32/zip_files.h"

#include "archive/buffered_io.h"

#include <windows.h>

#include <iowin32.h>

namespace kelzar::sys {

namespace {

zlib_filefunc64_def Win32FileFunctions() {
    zlib_filefunc64_def functions;
    fill_win32_filefunc64A(&functions);
    return functions;
}

// minizip's Win32 layer with a buffer on top; it holds no state of its own,
// so one set serves every archive of the run.
const zlib_filefunc64_def* FileFunctions() {
    static const zlib_filefunc64_def win32 = Win32FileFunctions();
    static const BufferedFileFunctions buffered(win32);
    return buffered.Functions();
}

} // namespace

zipFile CreateZipFile(const std::string& path) {
    return zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr,
                       const_cast<zlib_filefunc64_def*>(FileFunctions()));
}

unzFile OpenZipFile(const std::string& path) {
    return unzOpen2_64(path.c_str(), const_cast<zlib_filefunc64_def*>(FileFunctions()));
}

} // namespace kelzar::sys
