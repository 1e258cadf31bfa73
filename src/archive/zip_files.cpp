#include "archive/zip_files.h"

#include "archive/buffered_io.h"
#include "common/variant.h"

#include <algorithm>
#include <vector>

namespace kelzar {

namespace {

// minizip's "file name" is the open file itself; what minizip opens and
// closes is this view of it, which also remembers whether a call failed.
struct FileView {
    sys::RandomAccessFile* file = nullptr;
    WrittenReach* reach = nullptr; // told how far the writes have come
    bool failed = false;
    // Where the file is read or written next, as far as the calls through
    // this view have moved it.
    std::uint64_t position = 0;
};

// What minizip is given for a "file name".
struct ArchiveFile {
    sys::RandomAccessFile* file = nullptr;
    WrittenReach* reach = nullptr;
};

FileView* AsView(voidpf stream) {
    return static_cast<FileView*>(stream);
}

voidpf Open(voidpf, const void* name, int) {
    const auto* archive = static_cast<const ArchiveFile*>(name);
    if (archive == nullptr || archive->file == nullptr || !archive->file->IsOpen()) {
        return nullptr;
    }
    return new FileView{archive->file, archive->reach};
}

uLong Read(voidpf, voidpf stream, void* buffer, uLong size) {
    FileView* view = AsView(stream);
    auto read = view->file->Read(buffer, size);
    view->failed = view->failed || !read;
    view->position += read ? *read : 0;
    return read ? static_cast<uLong>(*read) : 0;
}

uLong Write(voidpf, voidpf stream, const void* buffer, uLong size) {
    FileView* view = AsView(stream);
    Status written;
    if (variant::AltersArchiveWrites()) {
        std::vector<unsigned char> altered(static_cast<const unsigned char*>(buffer),
                                           static_cast<const unsigned char*>(buffer) + size);
        variant::AlterArchiveWrite(view->position, altered.data(), altered.size());
        written = view->file->Write(altered.data(), altered.size());
    } else {
        written = view->file->Write(buffer, size);
    }
    if (!written) {
        view->failed = true;
        return 0;
    }
    view->position += size;
    if (view->reach != nullptr) {
        view->reach->bytes = std::max(view->reach->bytes, view->position);
    }
    return size;
}

ZPOS64_T Tell(voidpf, voidpf stream) {
    auto position = AsView(stream)->file->Position();
    return position ? *position : static_cast<ZPOS64_T>(-1);
}

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    FileView* view = AsView(stream);
    Result<std::uint64_t> base = std::uint64_t{0};
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        base = view->file->Position();
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
        base = view->file->Size();
    } else if (origin != ZLIB_FILEFUNC_SEEK_SET) {
        return -1;
    }
    if (!base || !view->file->SeekTo(*base + offset)) {
        return -1;
    }
    view->position = *base + offset;
    return 0;
}

int Close(voidpf, voidpf stream) {
    FileView* view = AsView(stream);
    bool failed = view->failed;
    delete view;
    return failed ? -1 : 0;
}

int Error(voidpf, voidpf stream) {
    return AsView(stream)->failed ? -1 : 0;
}

// The views hold no state between files, so one set serves every archive.
zlib_filefunc64_def* FileFunctions() {
    static const zlib_filefunc64_def views{Open, Read, Write, Tell, Seek, Close, Error, nullptr};
    static const BufferedFileFunctions buffered(views);
    return const_cast<zlib_filefunc64_def*>(buffered.Functions());
}

} // namespace

zipFile CreateZipArchive(sys::RandomAccessFile& file, WrittenReach* reach) {
    // minizip opens the "name" at once and keeps only the view made of it.
    ArchiveFile archive{&file, reach};
    return zipOpen2_64(&archive, APPEND_STATUS_CREATE, nullptr, FileFunctions());
}

unzFile OpenZipArchive(sys::RandomAccessFile& file) {
    ArchiveFile archive{&file, nullptr};
    return unzOpen2_64(&archive, FileFunctions());
}

} // namespace kelzar
