#include "memory_io.h"

#include <algorithm>
#include <cstring>

namespace kelzar::testing {

zlib_filefunc64_def* MemoryFile::Functions() {
    functions_ = zlib_filefunc64_def{Open, Read, Write, Tell, Seek, Close, Error, this};
    return &functions_;
}

voidpf MemoryFile::Open(voidpf opaque, const void*, int mode) {
    auto* file = static_cast<MemoryFile*>(opaque);
    if (mode & ZLIB_FILEFUNC_MODE_CREATE) {
        file->bytes_.clear();
    }
    file->position_ = 0;
    return file;
}

uLong MemoryFile::Read(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* file = static_cast<MemoryFile*>(stream);
    std::size_t available =
        file->position_ < file->bytes_.size() ? file->bytes_.size() - file->position_ : 0;
    std::size_t count = std::min<std::size_t>(size, available);
    if (count > 0) {
        std::memcpy(buffer, file->bytes_.data() + file->position_, count);
    }
    file->position_ += count;
    return static_cast<uLong>(count);
}

uLong MemoryFile::Write(voidpf, voidpf stream, const void* buffer, uLong size) {
    auto* file = static_cast<MemoryFile*>(stream);
    if (file->position_ + size > file->limit_) {
        return 0;
    }
    if (file->bytes_.size() < file->position_ + size) {
        file->bytes_.resize(file->position_ + size);
    }
    if (size > 0) {
        std::memcpy(file->bytes_.data() + file->position_, buffer, size);
    }
    file->position_ += size;
    return size;
}

ZPOS64_T MemoryFile::Tell(voidpf, voidpf stream) {
    return static_cast<MemoryFile*>(stream)->position_;
}

long MemoryFile::Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* file = static_cast<MemoryFile*>(stream);
    ZPOS64_T base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_CUR:
        base = file->position_;
        break;
    case ZLIB_FILEFUNC_SEEK_END:
        base = file->bytes_.size();
        break;
    case ZLIB_FILEFUNC_SEEK_SET:
        break;
    default:
        return -1;
    }
    ZPOS64_T target = base + offset;
    // A real file can be sought past its end; reads there return nothing.
    if (target < base || target > (ZPOS64_T{1} << 40)) {
        return -1;
    }
    file->position_ = static_cast<std::size_t>(target);
    return 0;
}

int MemoryFile::Close(voidpf, voidpf) {
    return 0;
}
int MemoryFile::Error(voidpf, voidpf) {
    return 0;
}

} // namespace kelzar::testing
