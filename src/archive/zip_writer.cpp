#include "archive/zip_writer.h"

#include "archive/zip_bytes.h"

#include <algorithm>
#include <climits>

namespace kelzar {

using namespace zip_bytes;

namespace {

// A central header is its fixed fields, the name and at most a Zip64 field
// of three 64-bit values.
constexpr std::size_t kMostCentralExtra = 4 + 3 * 8;

void PutLittleEndian(std::vector<unsigned char>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

} // namespace

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
    const std::size_t nameSize = pending_.name.size();
    written_.Add(pending_);
    std::swap(last_, pending_);
    pending_ = {};
    ++entriesInRun_;
    bytesInRun_ += kCentralSize + nameSize + kMostCentralExtra;
    if (spool_ == nullptr || (entriesInRun_ < runs_.entries && bytesInRun_ < runs_.bytes)) {
        return true;
    }
    return SpoolDirectory() && (archive_ = spool_->Continue()) != nullptr;
}

// minizip writes the run's central headers, then its end records, for an
// archive it takes to begin where the run does: only the headers are kept,
// as many bytes as its end record says the directory has.
bool ZipWriter::SpoolDirectory() {
    diverted_.clear();
    const bool closed = spool_->CloseDiverted(archive_, nextOffset_, diverted_);
    archive_ = nullptr;
    if (!closed || diverted_.size() < kEndSize) {
        return false;
    }
    const unsigned char* end = diverted_.data() + diverted_.size() - kEndSize;
    const std::uint32_t size = U32(end + 12);
    if (U32(end) != kEndSignature || size > diverted_.size() - kEndSize ||
        (size > 0 && !spool_->Keep(diverted_.data(), size))) {
        return false;
    }
    spooledBytes_ += size;
    entriesInRun_ = 0;
    bytesInRun_ = 0;
    return true;
}

// What zipClose writes after the directory, for the whole archive: the
// Zip64 end records when the directory begins at 4 GiB or more or there are
// 65,535 entries or more, then the end record without a comment. The
// directory's size is held as minizip holds it (in a uLong).
std::vector<unsigned char> ZipWriter::EndRecords() const {
    const std::uint64_t at = nextOffset_;
    const std::uint64_t entries = written_.Count();
    const auto size = static_cast<uLong>(spooledBytes_);
    std::vector<unsigned char> out;
    if (at >= 0xFFFFFFFF || entries >= 0xFFFF) {
        PutLittleEndian(out, kZip64EndSignature, 4);
        PutLittleEndian(out, 44, 8); // the record's size after this field
        PutLittleEndian(out, 45, 2); // made by
        PutLittleEndian(out, 45, 2); // needed
        PutLittleEndian(out, 0, 4);  // this disk
        PutLittleEndian(out, 0, 4);  // the directory's disk
        PutLittleEndian(out, entries, 8);
        PutLittleEndian(out, entries, 8);
        PutLittleEndian(out, size, 8);
        PutLittleEndian(out, at, 8);
        PutLittleEndian(out, kZip64LocatorSignature, 4);
        PutLittleEndian(out, 0, 4);
        PutLittleEndian(out, at + spooledBytes_, 8); // where the Zip64 end record is
        PutLittleEndian(out, 1, 4);                  // disks
    }
    const std::uint64_t counted = std::min<std::uint64_t>(entries, 0xFFFF);
    PutLittleEndian(out, kEndSignature, 4);
    PutLittleEndian(out, 0, 2);
    PutLittleEndian(out, 0, 2);
    PutLittleEndian(out, counted, 2);
    PutLittleEndian(out, counted, 2);
    PutLittleEndian(out, size, 4);
    PutLittleEndian(out, std::min<std::uint64_t>(at, 0xFFFFFFFF), 4);
    PutLittleEndian(out, 0, 2); // no comment
    return out;
}

bool ZipWriter::Close() {
    if (archive_ == nullptr) {
        return false;
    }
    if (spool_ != nullptr) {
        return SpoolDirectory() && spool_->WriteKept(nextOffset_, EndRecords());
    }
    int result = zipClose(archive_, nullptr);
    archive_ = nullptr;
    return result == ZIP_OK;
}

} // namespace kelzar
