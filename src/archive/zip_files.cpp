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
    ArchiveFile* archive = nullptr;
    bool failed = false;
    // Where the file is read or written next, as far as the calls through
    // this view have moved it.
    std::uint64_t position = 0;
    // For an archive that is read, the "name" is gone once minizip has
    // opened it: the view keeps what it needs itself.
    ArchiveFile reading;
};

// Writes bytes of an archive at `offset` of its file: the one way into an
// archive file, for minizip's writes and the writer's own alike.
Status WriteArchiveBytes(ArchiveFile& archive, std::uint64_t offset, const void* data,
                         std::size_t size) {
    Status written;
    if (variant::AltersArchiveWrites()) {
        std::vector<unsigned char> altered(static_cast<const unsigned char*>(data),
                                           static_cast<const unsigned char*>(data) + size);
        variant::AlterArchiveWrite(offset, altered.data(), altered.size());
        written = archive.file->WriteAt(offset, altered.data(), altered.size());
    } else {
        written = archive.file->WriteAt(offset, data, size);
    }
    if (written && archive.reach != nullptr && offset + size > archive.reach->bytes.load()) {
        archive.reach->bytes.store(offset + size, std::memory_order_release);
    }
    return written;
}

FileView* AsView(voidpf stream) {
    return static_cast<FileView*>(stream);
}

bool IsUsable(const ArchiveFile* archive) {
    return archive != nullptr && archive->file != nullptr && archive->file->IsOpen();
}

// An archive being written: its "name" outlives it, and says where the
// writes go.
voidpf OpenForWriting(voidpf, const void* name, int) {
    auto* archive = static_cast<ArchiveFile*>(const_cast<void*>(name));
    return IsUsable(archive) ? new FileView{archive, false, 0, {}} : nullptr;
}

voidpf OpenForReading(voidpf, const void* name, int) {
    const auto* archive = static_cast<const ArchiveFile*>(name);
    if (!IsUsable(archive)) {
        return nullptr;
    }
    auto* view = new FileView{nullptr, false, 0, ArchiveFile{archive->file}};
    view->archive = &view->reading;
    return view;
}

uLong Read(voidpf, voidpf stream, void* buffer, uLong size) {
    FileView* view = AsView(stream);
    auto read = view->archive->file->ReadSomeAt(view->position, buffer, size);
    view->failed = view->failed || !read;
    view->position += read ? *read : 0;
    return read ? static_cast<uLong>(*read) : 0;
}

uLong Write(voidpf, voidpf stream, const void* buffer, uLong size) {
    FileView* view = AsView(stream);
    ArchiveFile& archive = *view->archive;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    // What falls at or past the diversion point is kept aside, not written.
    std::size_t kept = size;
    if (view->position + size > archive.divertFrom) {
        kept = view->position < archive.divertFrom
                   ? static_cast<std::size_t>(archive.divertFrom - view->position)
                   : 0;
        archive.diverted->insert(archive.diverted->end(), bytes + kept, bytes + size);
    }
    if (kept > 0 && !WriteArchiveBytes(archive, view->position, bytes, kept)) {
        view->failed = true;
        return 0;
    }
    view->position += size;
    return size;
}

ZPOS64_T Tell(voidpf, voidpf stream) {
    return AsView(stream)->position;
}

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    FileView* view = AsView(stream);
    Result<std::uint64_t> base = std::uint64_t{0};
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        base = view->position;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
        base = view->archive->file->Size();
    } else if (origin != ZLIB_FILEFUNC_SEEK_SET) {
        return -1;
    }
    if (!base) {
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

// The views hold no state between files, so one set serves every archive
// written, and one every archive read.
zlib_filefunc64_def* FileFunctions(bool writing) {
    static const zlib_filefunc64_def writes{OpenForWriting, Read,  Write, Tell,
                                            Seek,           Close, Error, nullptr};
    static const zlib_filefunc64_def reads{OpenForReading, Read,  Write, Tell,
                                           Seek,           Close, Error, nullptr};
    static const BufferedFileFunctions bufferedWrites(writes);
    static const BufferedFileFunctions bufferedReads(reads);
    return const_cast<zlib_filefunc64_def*>(writing ? bufferedWrites.Functions()
                                                    : bufferedReads.Functions());
}

} // namespace

zipFile SpooledArchive::Create() {
    // minizip opens the "name" at once and keeps the view made of it.
    return zipOpen2_64(&archive_, APPEND_STATUS_CREATE, nullptr, FileFunctions(true));
}

bool SpooledArchive::CloseDiverted(zipFile archive, std::uint64_t offset,
                                   std::vector<unsigned char>& diverted) {
    archive_.divertFrom = offset;
    archive_.diverted = &diverted;
    const int closed = zipClose(archive, nullptr);
    archive_.divertFrom = UINT64_MAX;
    archive_.diverted = nullptr;
    return closed == ZIP_OK;
}

zipFile SpooledArchive::Continue() {
    return zipOpen2_64(&archive_, APPEND_STATUS_CREATEAFTER, nullptr, FileFunctions(true));
}

bool SpooledArchive::Keep(const unsigned char* data, std::size_t size) {
    if (!spool_.WriteAt(kept_, data, size)) {
        return false;
    }
    kept_ += size;
    return true;
}

bool SpooledArchive::WriteKept(std::uint64_t offset, const std::vector<unsigned char>& tail) {
    std::vector<unsigned char> piece(
        static_cast<std::size_t>(std::min<std::uint64_t>(kept_, 1 << 20)));
    for (std::uint64_t at = 0; at < kept_; at += piece.size()) {
        const auto size =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), kept_ - at));
        if (!spool_.ReadAt(at, piece.data(), size) ||
            !WriteArchiveBytes(archive_, offset + at, piece.data(), size)) {
            return false;
        }
    }
    return tail.empty() || WriteArchiveBytes(archive_, offset + kept_, tail.data(), tail.size());
}

unzFile OpenZipArchive(sys::RandomAccessFile& file) {
    // minizip keeps only the view it opens from this.
    ArchiveFile archive{&file};
    return unzOpen2_64(&archive, FileFunctions(false));
}

} // namespace kelzar
