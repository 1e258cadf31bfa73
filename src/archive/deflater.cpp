#include "archive/deflater.h"

#include <algorithm>

namespace kelzar {

namespace {
constexpr std::size_t kOutputChunk = 64 * 1024;
constexpr int kRawDeflate = -MAX_WBITS; // ZIP entries carry no zlib header
constexpr int kMemLevel = 8;
} // namespace

Deflater::Deflater() : out_(kOutputChunk) {
    ready_ = deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kRawDeflate, kMemLevel,
                          Z_DEFAULT_STRATEGY) == Z_OK;
}

Deflater::~Deflater() {
    if (ready_) {
        deflateEnd(&stream_);
    }
}

bool Deflater::Reset() {
    crc_ = 0;
    bytesIn_ = 0;
    return ready_ && deflateReset(&stream_) == Z_OK;
}

bool Deflater::SetDictionary(const void* data, std::size_t size) {
    return ready_ && deflateSetDictionary(&stream_, static_cast<const Bytef*>(data),
                                          static_cast<uInt>(size)) == Z_OK;
}

bool Deflater::EndBlock(const Sink& sink) {
    return ready_ && Run(Z_SYNC_FLUSH, sink);
}

bool Deflater::Feed(const void* data, std::size_t size, const Sink& sink) {
    if (!ready_) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        auto piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc_ = static_cast<std::uint32_t>(crc32(crc_, bytes, piece));
        bytesIn_ += piece;
        stream_.next_in = const_cast<Bytef*>(bytes);
        stream_.avail_in = piece;
        if (!Run(Z_NO_FLUSH, sink)) {
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool Deflater::Finish(const Sink& sink) {
    return ready_ && Run(Z_FINISH, sink);
}

bool Deflater::Run(int flush, const Sink& sink) {
    for (;;) {
        stream_.next_out = out_.data();
        stream_.avail_out = static_cast<uInt>(out_.size());
        int result = deflate(&stream_, flush);
        if (result == Z_STREAM_ERROR) {
            return false;
        }
        std::size_t produced = out_.size() - stream_.avail_out;
        if (produced > 0 && !sink(out_.data(), produced)) {
            return false;
        }
        if (flush == Z_FINISH ? result == Z_STREAM_END : stream_.avail_out != 0) {
            return true;
        }
    }
}

} // namespace kelzar
