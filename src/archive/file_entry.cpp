#include "archive/file_entry.h"

#include "archive/deflater.h"
#include "archive/dos_time.h"

#include <algorithm>
#include <vector>

namespace kelzar {

namespace {

constexpr std::size_t kReadPiece = 32 * 1024;

// Reads the next piece, never past `remaining`; a failure on a failed or
// short read.
Result<std::size_t> ReadPiece(sys::InputFile& file, std::vector<unsigned char>& buffer,
                              std::uint64_t remaining) {
    std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
    std::size_t filled = 0;
    while (filled < wanted) {
        auto read = file.Read(buffer.data() + filled, wanted - filled);
        if (!read) {
            return read.Why();
        }
        if (*read == 0) {
            return Failure{0, "read all of (it shrank while it was read)", file.Path()};
        }
        filled += *read;
    }
    return filled;
}

} // namespace

EntryOutcome AddFileEntry(ZipWriter& writer, sys::InputFile& file, const StoredName& name,
                          Failure& why) {
    std::vector<unsigned char> buffer(kReadPiece);
    std::uint64_t remaining = file.Size();

    // The first piece is read before the entry is begun, so a file that
    // cannot be read at all (a locked range, say) leaves nothing behind.
    auto piece = ReadPiece(file, buffer, remaining);
    if (!piece) {
        why = piece.Why();
        return EntryOutcome::Unreadable;
    }
    const Failure archiveFailure{0, "write the archive entry for", file.Path()};
    EntryHeader header;
    header.name = name.bytes;
    header.utf8Flag = name.utf8Flag;
    header.dosDateTime = ToDosDateTime(file.LastWriteLocal());
    header.zip64 = NeedsZip64(file.Size());
    if (!writer.BeginEntry(header)) {
        why = archiveFailure;
        return EntryOutcome::ArchiveFailed;
    }

    bool archiveOk = true;
    Deflater deflater;
    auto sink = [&](const unsigned char* data, std::size_t size) {
        archiveOk = writer.WriteEntryData(data, size);
        return archiveOk;
    };
    for (;;) {
        if (!deflater.Feed(buffer.data(), *piece, sink)) {
            why = archiveOk ? Failure{0, "compress", file.Path()} : archiveFailure;
            return archiveOk ? EntryOutcome::FailedPartWritten : EntryOutcome::ArchiveFailed;
        }
        remaining -= *piece;
        if (remaining == 0) {
            break;
        }
        piece = ReadPiece(file, buffer, remaining);
        if (!piece) {
            why = piece.Why();
            return EntryOutcome::FailedPartWritten;
        }
    }
    if (!deflater.Finish(sink) || !writer.EndEntry(deflater.Crc(), deflater.BytesIn())) {
        why = archiveFailure;
        return EntryOutcome::ArchiveFailed;
    }
    return EntryOutcome::Added;
}

} // namespace kelzar
