// minizip reads and writes archive headers field by field, each a call into
// its file layer: tens of calls per entry, each a system call in the Win32
// layer. These file functions sit on top of any other minizip file functions
// and turn them into a few large reads and writes through one buffer per
// open file.
#pragma once

#include <ioapi.h>

namespace kelzar {

class BufferedFileFunctions {
  public:
    // `inner` must stay valid for as long as files opened through this are open.
    explicit BufferedFileFunctions(const zlib_filefunc64_def& inner);
    BufferedFileFunctions(const BufferedFileFunctions&) = delete;
    BufferedFileFunctions& operator=(const BufferedFileFunctions&) = delete;

    // The functions to give zipOpen2_64 or unzOpen2_64. minizip copies them,
    // so this object must outlive every archive opened with them.
    const zlib_filefunc64_def* Functions() const { return &outer_; }

  private:
    zlib_filefunc64_def inner_;
    zlib_filefunc64_def outer_;
};

} // namespace kelzar
