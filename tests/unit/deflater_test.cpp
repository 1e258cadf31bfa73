// Entry compression: raw deflate at level 6 that inflates back to the input,
// with the CRC-32 and size that the entry's headers will carry.
#include "archive/deflater.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kelzar {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes FromText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Bit-by-bit CRC-32 (reflected, polynomial 0xEDB88320): slow, but obviously
// the one ZIP uses, and shares no code with zlib's table-driven version.
std::uint32_t BitwiseCrc32(const Bytes& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1u) != 0 ? 0xEDB88320u : 0u);
        }
    }
    return ~crc;
}

// Deterministic bytes that deflate cannot shrink (xorshift32).
Bytes Incompressible(std::size_t size) {
    Bytes data(size);
    std::uint32_t state = 0x9E3779B9u;
    for (unsigned char& byte : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return data;
}

Bytes RepeatedText(std::size_t size) {
    const std::string line = "The quick brown fox jumps over the lazy dog 0123456789.\r\n";
    Bytes data;
    data.reserve(size);
    for (std::size_t i = 0; data.size() < size; ++i) {
        data.push_back(static_cast<unsigned char>(line[i % line.size()]));
        if (i % 997 == 0) {
            data.push_back(static_cast<unsigned char>('a' + i % 26)); // vary the text a bit
        }
    }
    data.resize(size);
    return data;
}

struct Compressed {
    bool ok = true;
    Bytes bytes;
    std::uint32_t crc = 0;
    std::uint64_t bytesIn = 0;
};

// Feeds the input in pieces of the given size (0: all at once) and finishes.
Compressed Deflate(const Bytes& input, std::size_t pieceSize = 0) {
    Compressed result;
    Deflater deflater;
    const Deflater::Sink sink = [&result](const unsigned char* data, std::size_t size) {
        result.bytes.insert(result.bytes.end(), data, data + size);
        return true;
    };
    const std::size_t step = pieceSize == 0 ? input.size() : pieceSize;
    for (std::size_t at = 0; at < input.size(); at += step) {
        const std::size_t size = std::min(step, input.size() - at);
        result.ok = result.ok && deflater.Feed(input.data() + at, size, sink);
    }
    result.ok = result.ok && deflater.Finish(sink);
    result.crc = deflater.Crc();
    result.bytesIn = deflater.BytesIn();
    return result;
}

// zlib's inflate on a raw stream; fails the test if the stream is not one
// complete deflate stream.
Bytes RawInflate(const Bytes& compressed) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, -MAX_WBITS), Z_OK);
    Bytes output;
    Bytes chunk(64 * 1024);
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = chunk.data();
        stream.avail_out = static_cast<uInt>(chunk.size());
        status = inflate(&stream, Z_NO_FLUSH);
        output.insert(output.end(), chunk.data(), chunk.data() + (chunk.size() - stream.avail_out));
    }
    EXPECT_EQ(status, Z_STREAM_END) << "the stream does not end where a reader expects";
    EXPECT_EQ(stream.avail_in, 0u) << "bytes left over after the end of the stream";
    inflateEnd(&stream);
    return output;
}

// The raw stream zlib makes at level 6, window 2^15, memLevel 8, default strategy.
Bytes ReferenceLevel6(const Bytes& input) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes output(deflateBound(&stream, static_cast<uLong>(input.size())));
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    output.resize(stream.total_out);
    deflateEnd(&stream);
    return output;
}

struct Input {
    const char* name;
    Bytes data;
};

std::vector<Input> Inputs() {
    return {
        {"empty", {}},
        {"one byte", FromText("x")},
        {"short text", FromText("hello hello hello hello\n")},
        {"text 100 KiB", RepeatedText(100 * 1024)},
        {"zeros 1 MiB", Bytes(1024 * 1024, 0)},
        {"incompressible 300 KiB", Incompressible(300 * 1024)},
    };
}

TEST(DeflaterTest, OutputInflatesBackToTheInput) {
    for (const Input& input : Inputs()) {
        for (std::size_t piece : {std::size_t{0}, std::size_t{1000}, std::size_t{32768}}) {
            SCOPED_TRACE(std::string(input.name) + ", pieces of " + std::to_string(piece));
            const Compressed out = Deflate(input.data, piece);
            ASSERT_TRUE(out.ok);
            EXPECT_TRUE(RawInflate(out.bytes) == input.data)
                << "the entry would not extract to the file's content";
        }
    }
}

TEST(DeflaterTest, CrcAndSizeDescribeTheInput) {
    for (const Input& input : Inputs()) {
        SCOPED_TRACE(input.name);
        const Compressed out = Deflate(input.data, 4096);
        ASSERT_TRUE(out.ok);
        EXPECT_EQ(out.crc, BitwiseCrc32(input.data)) << "readers would report a CRC error";
        EXPECT_EQ(out.crc, static_cast<std::uint32_t>(
                               crc32(0, input.data.data(), static_cast<uInt>(input.data.size()))));
        EXPECT_EQ(out.bytesIn, input.data.size());
    }
}

TEST(DeflaterTest, CrcMatchesTheStandardCheckValue) {
    EXPECT_EQ(Deflate(FromText("123456789")).crc, 0xCBF43926u);
}

TEST(DeflaterTest, EmptyInputGivesAnEmptyFinalBlock) {
    const Compressed out = Deflate({});
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(out.bytes, (Bytes{0x03, 0x00}));
    EXPECT_EQ(out.crc, 0u);
    EXPECT_EQ(out.bytesIn, 0u);
}

TEST(DeflaterTest, OutputIsZlibLevel6RawStream) {
    for (const Input& input : Inputs()) {
        SCOPED_TRACE(input.name);
        const Compressed whole = Deflate(input.data);
        const Compressed pieces = Deflate(input.data, 32768);
        const Bytes reference = ReferenceLevel6(input.data);
        EXPECT_TRUE(whole.bytes == reference) << "entries would not be compressed at level 6";
        EXPECT_TRUE(pieces.bytes == reference) << "reading in pieces changed the stream";
    }
}

TEST(DeflaterTest, OutputMatchesAnIndependentZlibBuild) {
    // Made with Python's zlib 1.2.13, level 6, window bits -15, memLevel 8.
    const Bytes expected = {0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0xc8, 0x40, 0x27, 0xb9, 0x00};
    EXPECT_EQ(Deflate(FromText("hello hello hello hello\n")).bytes, expected);
}

TEST(DeflaterTest, RefusingSinkMakesTheCompressionFail) {
    Deflater deflater;
    const Deflater::Sink refuse = [](const unsigned char*, std::size_t) { return false; };
    const Bytes data = Incompressible(200 * 1024); // more than one output chunk
    const bool fed = deflater.Feed(data.data(), data.size(), refuse);
    const bool finished = fed && deflater.Finish(refuse);
    EXPECT_FALSE(fed && finished) << "a failed write would be reported as a complete entry";

    Deflater small;
    const Bytes text = FromText("short");
    ASSERT_TRUE(small.Feed(text.data(), text.size(), refuse)) << "nothing to write yet";
    EXPECT_FALSE(small.Finish(refuse)) << "the end of the stream could not be written";
}

} // namespace
} // namespace kelzar
