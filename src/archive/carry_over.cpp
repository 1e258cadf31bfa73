#include "archive/carry_over.h"

#include "archive/deflater.h"

#include <string>
#include <vector>

namespace kelzar {

namespace {

constexpr std::size_t kCopyBuffer = 64 * 1024;
constexpr unsigned long kFlagEncrypted = 0x1;
constexpr unsigned long kFlagUtf8Name = 0x800;
constexpr unsigned long kMethodStored = 0;
constexpr unsigned long kMethodDeflated = Z_DEFLATED;
constexpr ZPOS64_T kCentralHeaderSize = 46;

struct SourceEntry {
    unz_file_info64 info{};
    std::string name;
};

// Buffers reused from entry to entry: archives hold many small entries. The
// deflater too: its state is a few hundred KiB, which the heap hands out as
// fresh pages each time it is made anew.
struct Buffers {
    std::vector<char> name = std::vector<char>(0x10000);
    std::vector<unsigned char> data = std::vector<unsigned char>(kCopyBuffer);
    Deflater deflater;
};

// Names are at most 65,535 bytes; a buffer that holds any of them (and the
// zero minizip puts after it) reads an entry's header in a single call.
bool ReadCurrentEntry(unzFile source, Buffers& buffers, SourceEntry& entry) {
    if (unzGetCurrentFileInfo64(source, &entry.info, buffers.name.data(),
                                static_cast<uLong>(buffers.name.size()), nullptr, 0, nullptr,
                                0) != UNZ_OK ||
        entry.info.size_filename >= buffers.name.size()) {
        return false;
    }
    entry.name.assign(buffers.name.data(), entry.info.size_filename);
    return true;
}

// The level whose flag bits minizip writes are those the entry had.
int LevelOfFlags(unsigned long flag) {
    static constexpr int kLevels[] = {6, 9, 2, 1};
    return kLevels[(flag >> 1) & 3];
}

EntryHeader HeaderFor(const SourceEntry& entry, int method) {
    EntryHeader header;
    header.name = entry.name;
    header.dosDateTime = static_cast<std::uint32_t>(entry.info.dosDate);
    header.method = method;
    header.level = method == kMethodDeflated ? LevelOfFlags(entry.info.flag) : 6;
    header.utf8Flag = static_cast<std::uint16_t>(entry.info.flag & kFlagUtf8Name);
    header.zip64 =
        NeedsZip64(entry.info.uncompressed_size) || NeedsZip64(entry.info.compressed_size);
    return header;
}

// Calls `consume` with each piece of the entry's data as the open entry
// yields it; false on a read error. `total` receives the bytes read.
template <typename Consume>
bool StreamOpenEntry(unzFile source, std::vector<unsigned char>& buffer, Consume consume,
                     std::uint64_t& total) {
    total = 0;
    for (;;) {
        int read = unzReadCurrentFile(source, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (read < 0) {
            return false;
        }
        if (read == 0) {
            return true;
        }
        total += static_cast<std::uint64_t>(read);
        if (!consume(buffer.data(), static_cast<std::size_t>(read))) {
            return false;
        }
    }
}

// True when the stored entry's data reads back whole and matches its CRC.
bool StoredDataIsSound(unzFile source, Buffers& buffers, const SourceEntry& entry) {
    if (entry.info.compressed_size != entry.info.uncompressed_size ||
        unzOpenCurrentFile(source) != UNZ_OK) {
        return false;
    }
    std::uint64_t total = 0;
    bool read = StreamOpenEntry(
        source, buffers.data, [](const unsigned char*, std::size_t) { return true; }, total);
    // Closing checks the CRC once all the data was read.
    bool crcOk = unzCloseCurrentFile(source) == UNZ_OK;
    return read && crcOk && total == entry.info.uncompressed_size;
}

bool CopyRaw(unzFile source, ZipWriter& writer, Buffers& buffers, const SourceEntry& entry) {
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(source, &method, &level, 1) != UNZ_OK) {
        return false;
    }
    std::uint64_t total = 0;
    bool ok =
        writer.BeginEntry(HeaderFor(entry, static_cast<int>(entry.info.compression_method))) &&
        StreamOpenEntry(
            source, buffers.data,
            [&](const unsigned char* data, std::size_t size) {
                return writer.WriteEntryData(data, size);
            },
            total) &&
        total == entry.info.compressed_size;
    unzCloseCurrentFile(source); // raw reads have no CRC to check
    return ok && writer.EndEntry(static_cast<std::uint32_t>(entry.info.crc),
                                 entry.info.uncompressed_size);
}

bool Recompress(unzFile source, ZipWriter& writer, Buffers& buffers, const SourceEntry& entry) {
    Deflater& deflater = buffers.deflater;
    if (!deflater.Reset() || unzOpenCurrentFile(source) != UNZ_OK) {
        return false;
    }
    auto sink = [&](const unsigned char* data, std::size_t size) {
        return writer.WriteEntryData(data, size);
    };
    std::uint64_t total = 0;
    bool ok = writer.BeginEntry(HeaderFor(entry, kMethodDeflated)) &&
              StreamOpenEntry(
                  source, buffers.data,
                  [&](const unsigned char* data, std::size_t size) {
                      return deflater.Feed(data, size, sink);
                  },
                  total);
    ok = unzCloseCurrentFile(source) == UNZ_OK && ok && total == entry.info.uncompressed_size &&
         deflater.Finish(sink) && deflater.Crc() == entry.info.crc;
    return ok && writer.EndEntry(deflater.Crc(), deflater.BytesIn());
}

Status CarryOverEntry(unzFile source, ZipWriter& writer, Buffers& buffers,
                      const SourceEntry& entry) {
    auto failure = [&](const char* what) { return Failure{0, what + entry.name, {}}; };
    if ((entry.info.flag & kFlagEncrypted) != 0) {
        return failure("carry over the encrypted entry ");
    }
    switch (entry.info.compression_method) {
    case kMethodDeflated:
        return CopyRaw(source, writer, buffers, entry) ? Status::Done()
                                                       : failure("carry over the entry ");
    case kMethodStored:
        if (!StoredDataIsSound(source, buffers, entry)) {
            return failure("carry over the damaged stored entry ");
        }
        return Recompress(source, writer, buffers, entry) ? Status::Done()
                                                          : failure("carry over the entry ");
    default:
        // minizip can write no other method, not even raw
        return failure("carry over an entry of another compression method: ");
    }
}

} // namespace

Status CarryOverEntries(unzFile source, ZipWriter& writer, const EntryCarried& carried) {
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(source, &global) != UNZ_OK) {
        return Failure{0, "read the end record of the old archive", {}};
    }
    // The central directory is walked header by header, as other readers do,
    // rather than by the entry count of the end record: that count may be
    // saturated at 0xFFFF or simply wrong, and trusting it would drop
    // entries. The walk ends where no further header can be read: at the end
    // records. Fewer headers than the count means damage: the run fails.
    Buffers buffers;
    ZPOS64_T count = 0;
    int step = unzGoToFirstFile(source);
    ZPOS64_T position = unzGetOffset64(source);
    while (step == UNZ_OK) {
        SourceEntry entry;
        if (!ReadCurrentEntry(source, buffers, entry)) {
            return Failure{0, "read a central header of the old archive", {}};
        }
        Status carriedOver = CarryOverEntry(source, writer, buffers, entry);
        if (!carriedOver) {
            return carriedOver;
        }
        if (!carried()) {
            return Failure{0, "read back the entry " + entry.name, {}};
        }
        ++count;
        position += kCentralHeaderSize + entry.info.size_filename + entry.info.size_file_extra +
                    entry.info.size_file_comment;
        step = unzSetOffset64(source, position);
    }
    if (count < global.number_entry) {
        return Failure{0, "find as many entries as the end record of the old archive counts", {}};
    }
    return Status::Done();
}

} // namespace kelzar
