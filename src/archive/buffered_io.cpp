#include "archive/buffered_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kelzar {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

// Bytes of the file at [start, start + length).
struct Block {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(kBufferSize);
    ZPOS64_T start = 0;
    std::size_t length = 0;
    unsigned lastUse = 0;

    bool Holds(ZPOS64_T position) const { return position >= start && position < start + length; }
    ZPOS64_T End() const { return start + length; }
};

// One open file. Reading keeps two blocks read ahead, because reading an
// archive jumps between its central directory and its entries' data.
// Writing keeps block 0 as the bytes written that have not reached the file
// yet; a write into those bytes (minizip going back to a local header to put
// in the CRC and sizes) changes them in place.
struct Stream {
    const zlib_filefunc64_def* inner = nullptr;
    voidpf file = nullptr;
    Block blocks[2];
    unsigned clock = 0;
    bool pendingWrite = false;
    ZPOS64_T position = 0; // where the caller reads or writes next
    bool failed = false;
    // minizip reads every header field at exactly its size, and takes a read
    // cut short by the end of the file for zeros unless the layer reports an
    // error: a truncated end record would read as an empty archive.
    bool readCutShort = false;

    bool SeekInner(ZPOS64_T offset) {
        return inner->zseek64_file(inner->opaque, file, offset, ZLIB_FILEFUNC_SEEK_SET) == 0;
    }

    bool WriteInner(ZPOS64_T offset, const unsigned char* data, std::size_t size) {
        auto length = static_cast<uLong>(size);
        if (!SeekInner(offset) || inner->zwrite_file(inner->opaque, file, data, length) != length) {
            failed = true;
        }
        return !failed;
    }

    bool Flush() {
        Block& pending = blocks[0];
        if (pendingWrite && pending.length > 0) {
            WriteInner(pending.start, pending.bytes.data(), pending.length);
        }
        pendingWrite = false;
        pending.length = 0;
        return !failed;
    }

    Block* BlockHolding(ZPOS64_T at) {
        for (Block& block : blocks) {
            if (block.Holds(at)) {
                return &block;
            }
        }
        return nullptr;
    }

    Block& LeastRecentlyUsed() {
        return blocks[0].lastUse <= blocks[1].lastUse ? blocks[0] : blocks[1];
    }

    uLong Read(unsigned char* out, uLong size) {
        if (pendingWrite && !Flush()) {
            return 0;
        }
        uLong done = 0;
        while (done < size) {
            if (Block* block = BlockHolding(position)) {
                auto offset = static_cast<std::size_t>(position - block->start);
                std::size_t count = std::min<std::size_t>(size - done, block->length - offset);
                std::memcpy(out + done, block->bytes.data() + offset, count);
                block->lastUse = ++clock;
                done += static_cast<uLong>(count);
                position += count;
                continue;
            }
            if (!SeekInner(position)) {
                failed = true;
                break;
            }
            if (size - done >= kBufferSize) {
                // Large reads go straight to the caller.
                uLong read = inner->zread_file(inner->opaque, file, out + done, size - done);
                done += read;
                position += read;
                break;
            }
            Block& block = LeastRecentlyUsed();
            block.start = position;
            block.length = inner->zread_file(inner->opaque, file, block.bytes.data(), kBufferSize);
            if (block.length == 0) {
                break; // end of file
            }
        }
        if (done < size) {
            readCutShort = true;
        }
        return done;
    }

    uLong Write(const unsigned char* data, uLong size) {
        if (size == 0) {
            return 0;
        }
        Block& pending = blocks[0];
        if (!pendingWrite) {
            blocks[0].length = blocks[1].length = 0; // what was read ahead may change
            pendingWrite = true;
            pending.start = position;
        }
        if (position >= pending.start && position + size <= pending.End()) {
            std::memcpy(pending.bytes.data() + (position - pending.start), data, size);
            position += size;
            return size;
        }
        if (position != pending.End() || pending.length + size > kBufferSize) {
            if (!Flush()) {
                return 0;
            }
            pendingWrite = true;
            pending.start = position;
        }
        if (size >= kBufferSize) {
            // Large writes go straight to the file.
            if (!WriteInner(position, data, size)) {
                return 0;
            }
            position += size;
            pending.start = position;
            return size;
        }
        std::memcpy(pending.bytes.data() + pending.length, data, size);
        pending.length += size;
        position += size;
        return size;
    }

    long Seek(ZPOS64_T offset, int origin) {
        switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            position = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            position += offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_END:
            if (!Flush() ||
                inner->zseek64_file(inner->opaque, file, offset, ZLIB_FILEFUNC_SEEK_END) != 0) {
                return -1;
            }
            position = inner->ztell64_file(inner->opaque, file);
            return 0;
        default:
            return -1;
        }
    }
};

Stream* AsStream(voidpf stream) {
    return static_cast<Stream*>(stream);
}

voidpf Open(voidpf opaque, const void* name, int mode) {
    auto* inner = static_cast<const zlib_filefunc64_def*>(opaque);
    voidpf file = inner->zopen64_file(inner->opaque, name, mode);
    if (file == nullptr) {
        return nullptr;
    }
    auto* stream = new Stream;
    stream->inner = inner;
    stream->file = file;
    return stream;
}

uLong Read(voidpf, voidpf stream, void* buffer, uLong size) {
    return AsStream(stream)->Read(static_cast<unsigned char*>(buffer), size);
}

uLong Write(voidpf, voidpf stream, const void* buffer, uLong size) {
    return AsStream(stream)->Write(static_cast<const unsigned char*>(buffer), size);
}

ZPOS64_T Tell(voidpf, voidpf stream) {
    return AsStream(stream)->position;
}

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    return AsStream(stream)->Seek(offset, origin);
}

// Closing writes what is still buffered; its failure is the close's failure,
// so a writer that checks its close learns of it.
int Close(voidpf, voidpf stream) {
    Stream* s = AsStream(stream);
    bool flushed = s->Flush();
    int closed = s->inner->zclose_file(s->inner->opaque, s->file);
    delete s;
    return flushed && closed == 0 ? 0 : -1;
}

int Error(voidpf, voidpf stream) {
    Stream* s = AsStream(stream);
    return s->failed || s->readCutShort ? -1 : s->inner->zerror_file(s->inner->opaque, s->file);
}

} // namespace

BufferedFileFunctions::BufferedFileFunctions(const zlib_filefunc64_def& inner)
    : inner_(inner), outer_{Open, Read, Write, Tell, Seek, Close, Error, &inner_} {}

} // namespace kelzar
