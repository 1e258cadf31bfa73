// Compresses one entry's content with raw deflate at zlib's default level,
// as ZIP stores it, and keeps the CRC-32 and size of what went in.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kelzar {

class Deflater {
  public:
    // Receives compressed bytes; false stops the compression.
    using Sink = std::function<bool(const unsigned char* data, std::size_t size)>;

    Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater();

    // Starts a new stream, as a new Deflater would, without the cost of
    // making one.
    bool Reset();
    // Primes the stream with the bytes that precede its content: a block of
    // a larger file, compressed apart, then finds matches across its start.
    bool SetDictionary(const void* data, std::size_t size);

    // Compresses the next piece of content.
    bool Feed(const void* data, std::size_t size, const Sink& sink);
    // Ends the output at a byte boundary without ending the stream: the next
    // block's output may follow it directly.
    bool EndBlock(const Sink& sink);
    // Flushes the end of the stream.
    bool Finish(const Sink& sink);

    std::uint32_t Crc() const { return crc_; }
    std::uint64_t BytesIn() const { return bytesIn_; }

  private:
    bool Run(int flush, const Sink& sink);

    z_stream stream_{};
    bool ready_ = false;
    std::uint32_t crc_ = 0;
    std::uint64_t bytesIn_ = 0;
    std::vector<unsigned char> out_;
};

} // namespace kelzar
