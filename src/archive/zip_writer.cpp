#include "archive/zip_writer.h"

#include <algorithm>
#include <climits>

namespace kelzar {

ZipWriter::~ZipWriter() {
    if (archive_ != nullptr) {
        zipClose(archive_, nullptr);
    }
}

bool ZipWriter::BeginEntry(const EntryHeader& header) {
    if (archive_ == nullptr) {
        return false;
    }
    // minizip takes the name as a C string: a name with a zero byte in it
    // would be stored cut short.
    if (header.name.find('\0') != std::string::npos) {
        return false;
    }
    zip_fileinfo info{};
    info.dosDate = header.dosDateTime;
    if (info.dosDate == 0) {
        // minizip computes the date from tmz_date when dosDate is 0; these
        // fields make it compute 0 again, so a zero date is carried exactly.
        info.tmz_date.tm_year = 1980;
        info.tmz_date.tm_mon = -1;
    }
    const int raw = 1;
    pending_ = WrittenEntry{};
    pending_.name = header.name;
    pending_.utf8Flag = header.utf8Flag;
    pending_.method = static_cast<std::uint16_t>(header.method);
    pending_.dosDateTime = header.dosDateTime;
    pending_.localOffset = nextOffset_;
    pending_.zip64 = header.zip64;
    return zipOpenNewFileInZip4_64(archive_, header.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                   nullptr, header.method, header.level, raw, -MAX_WBITS,
                                   DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                   header.utf8Flag, header.zip64 ? 1 : 0) == ZIP_OK;
}

bool ZipWriter::WriteEntryData(const void* data, std::size_t size) {
    if (archive_ == nullptr) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        auto piece = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
        if (zipWriteInFileInZip(archive_, bytes, piece) != ZIP_OK) {
            return false;
        }
        bytes += piece;
        size -= piece;
        pending_.compressedSize += piece;
    }
    return true;
}

bool ZipWriter::EndEntry(std::uint32_t crc, std::uint64_t uncompressedSize) {
    if (archive_ == nullptr || zipCloseFileInZipRaw64(archive_, uncompressedSize, crc) != ZIP_OK) {
        return false;
    }
    pending_.crc = crc;
    pending_.uncompressedSize = uncompressedSize;
    // minizip writes a local header of the fixed fields, the name and, for
    // an entry with room for 64-bit sizes, a Zip64 field of 20 bytes; the
    // data follow it, and the next entry them.
    nextOffset_ = pending_.localOffset + kLocalHeaderSize + pending_.name.size() +
                  (pending_.zip64 ? 20 : 0) + pending_.compressedSize;
    written_.push_back(std::move(pending_));
    pending_ = {};
    return true;
}

bool ZipWriter::Close() {
    if (archive_ == nullptr) {
        return false;
    }
    int result = zipClose(archive_, nullptr);
    archive_ = nullptr;
    return result == ZIP_OK;
}

} // namespace kelzar
