#include "archive/file_entry.h"

#include "archive/deflater.h"
#include "archive/dos_time.h"

#include <algorithm>
#include <vector>

namespace kelzar {

namespace {

constexpr std::size_t kReadPiece = 32 * 1024;

// Reads the next piece, never past `remaining`; nothing on a failed or short read.
std::optional<std::size_t> ReadPiece(sys::InputFile& file, std::vector<unsigned char>& buffer,
                                     std::uint64_t remaining) {
    std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
    std::size_t filled = 0;
    while (filled < wanted) {
        auto read = file.Read(buffer.data() + filled, wanted - filled);
        if (!read || *read == 0) {
            return std::nullopt; // failed, or the file shrank while it was read
        }
        filled += *read;
    }
    return filled;
}

} // namespace

EntryOutcome AddFileEntry(ZipWriter& writer, sys::InputFile& file, const StoredName& name) {
    std::vector<unsigned char> buffer(kReadPiece);
    std::uint64_t remaining = file.Size();

    // The first piece is read before the entry is begun, so a file that
    // cannot be read at all (a locked range, say) leaves nothing behind.
    auto piece = ReadPiece(file, buffer, remaining);
    if (!piece) {
        return EntryOutcome::Unreadable;
    }
    EntryHeader header;
    header.name = name.bytes;
    header.utf8Flag = name.utf8Flag;
    header.dosDateTime = ToDosDateTime(file.LastWriteLocal());
    header.zip64 = NeedsZip64(file.Size());
    if (!writer.BeginEntry(header)) {
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
            return archiveOk ? EntryOutcome::FailedPartWritten : EntryOutcome::ArchiveFailed;
        }
        remaining -= *piece;
        if (remaining == 0) {
            break;
        }
        piece = ReadPiece(file, buffer, remaining);
        if (!piece) {
            return EntryOutcome::FailedPartWritten;
        }
    }
    if (!deflater.Finish(sink) || !writer.EndEntry(deflater.Crc(), deflater.BytesIn())) {
        return EntryOutcome::ArchiveFailed;
    }
    return EntryOutcome::Added;
}

} // namespace kelzar
