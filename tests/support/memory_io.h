// minizip file functions over a byte buffer, so archive code can be fuzzed
// without touching the disk.
#pragma once

#include <ioapi.h>

#include <cstddef>
#include <vector>

namespace kelzar::testing {

class MemoryFile {
  public:
    MemoryFile() = default;
    MemoryFile(const unsigned char* data, std::size_t size) : bytes_(data, data + size) {}
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // File functions whose every open yields this buffer; opening to create
    // empties it.
    zlib_filefunc64_def* Functions();
    const std::vector<unsigned char>& Bytes() const { return bytes_; }
    // Writes beyond this many bytes fail, as on a full disk.
    void LimitSize(std::size_t limit) { limit_ = limit; }

  private:
    static voidpf Open(voidpf opaque, const void* name, int mode);
    static uLong Read(voidpf opaque, voidpf stream, void* buffer, uLong size);
    static uLong Write(voidpf opaque, voidpf stream, const void* buffer, uLong size);
    static ZPOS64_T Tell(voidpf opaque, voidpf stream);
    static long Seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
    static int Close(voidpf opaque, voidpf stream);
    static int Error(voidpf opaque, voidpf stream);

    std::vector<unsigned char> bytes_;
    std::size_t position_ = 0;
    std::size_t limit_ = static_cast<std::size_t>(-1);
    zlib_filefunc64_def functions_{};
};

} // namespace kelzar::testing
