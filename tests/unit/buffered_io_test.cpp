// The buffered file layer must be indistinguishable from the layer under it,
// only with fewer calls, and must not hide a failed write.
#include "archive/buffered_io.h"
#include "archive/zip_writer.h"
#include "memory_io.h"

#include <gtest/gtest.h>
#include <unzip.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace kelzar {
namespace {

using testing::MemoryFile;

std::vector<unsigned char> RandomBytes(std::mt19937& rng, std::size_t size) {
    std::vector<unsigned char> bytes(size);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    return bytes;
}

// Applies the same random reads, writes and seeks to a plain memory file and
// to a buffered one; every read, every position and the final bytes must agree.
TEST(BufferedFileFunctions, BehavesLikeTheLayerBelowUnderRandomOperations) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 rng(seed);
        MemoryFile plainFile;
        MemoryFile innerFile;
        zlib_filefunc64_def* plain = plainFile.Functions();
        BufferedFileFunctions buffered(*innerFile.Functions());
        const zlib_filefunc64_def* bf = buffered.Functions();
        voidpf p = plain->zopen64_file(plain->opaque, "f", ZLIB_FILEFUNC_MODE_CREATE);
        voidpf b = bf->zopen64_file(bf->opaque, "f", ZLIB_FILEFUNC_MODE_CREATE);
        ASSERT_NE(b, nullptr);

        for (int step = 0; step < 300; ++step) {
            const std::size_t size = rng() % 4 == 0 ? rng() % 200000 : rng() % 64;
            switch (rng() % 4) {
            case 0: {
                auto data = RandomBytes(rng, size);
                auto length = static_cast<uLong>(data.size());
                ASSERT_EQ(plain->zwrite_file(plain->opaque, p, data.data(), length),
                          bf->zwrite_file(bf->opaque, b, data.data(), length));
                break;
            }
            case 1: {
                std::vector<unsigned char> fromPlain(size), fromBuffered(size);
                auto length = static_cast<uLong>(size);
                uLong readPlain = plain->zread_file(plain->opaque, p, fromPlain.data(), length);
                uLong readBuffered = bf->zread_file(bf->opaque, b, fromBuffered.data(), length);
                ASSERT_EQ(readPlain, readBuffered) << "seed " << seed << " step " << step;
                ASSERT_EQ(fromPlain, fromBuffered) << "seed " << seed << " step " << step;
                break;
            }
            case 2: {
                ZPOS64_T end = plainFile.Bytes().size();
                ZPOS64_T target = end == 0 ? 0 : rng() % end;
                ASSERT_EQ(plain->zseek64_file(plain->opaque, p, target, ZLIB_FILEFUNC_SEEK_SET),
                          bf->zseek64_file(bf->opaque, b, target, ZLIB_FILEFUNC_SEEK_SET));
                break;
            }
            default:
                ASSERT_EQ(plain->zseek64_file(plain->opaque, p, 0, ZLIB_FILEFUNC_SEEK_END),
                          bf->zseek64_file(bf->opaque, b, 0, ZLIB_FILEFUNC_SEEK_END));
                break;
            }
            ASSERT_EQ(plain->ztell64_file(plain->opaque, p), bf->ztell64_file(bf->opaque, b))
                << "seed " << seed << " step " << step;
        }
        ASSERT_EQ(plain->zclose_file(plain->opaque, p), 0);
        ASSERT_EQ(bf->zclose_file(bf->opaque, b), 0);
        EXPECT_EQ(plainFile.Bytes(), innerFile.Bytes()) << "seed " << seed;
    }
}

TEST(BufferedFileFunctions, ArchiveWrittenAndReadThroughItIsSound) {
    MemoryFile archive;
    BufferedFileFunctions buffered(*archive.Functions());
    auto* functions = const_cast<zlib_filefunc64_def*>(buffered.Functions());
    std::mt19937 rng(7);
    const std::vector<std::vector<unsigned char>> contents = {
        {}, RandomBytes(rng, 10), RandomBytes(rng, 300000), std::vector<unsigned char>(70000, 'a')};
    {
        ZipWriter writer(zipOpen2_64("a.zip", APPEND_STATUS_CREATE, nullptr, functions));
        for (std::size_t i = 0; i < contents.size(); ++i) {
            EntryHeader header;
            header.name = "entry" + std::to_string(i);
            header.method = 0;
            header.dosDateTime = 0x5A8F6000;
            ASSERT_TRUE(writer.BeginEntry(header));
            ASSERT_TRUE(writer.WriteEntryData(contents[i].data(), contents[i].size()));
            uLong crc = crc32(0, contents[i].data(), static_cast<uInt>(contents[i].size()));
            ASSERT_TRUE(writer.EndEntry(static_cast<std::uint32_t>(crc), contents[i].size()));
        }
        ASSERT_TRUE(writer.Close());
    }
    unzFile reader = unzOpen2_64("a.zip", functions);
    ASSERT_NE(reader, nullptr);
    std::size_t index = 0;
    for (int step = unzGoToFirstFile(reader); step == UNZ_OK; step = unzGoToNextFile(reader)) {
        ASSERT_LT(index, contents.size());
        ASSERT_EQ(unzOpenCurrentFile(reader), UNZ_OK);
        std::vector<unsigned char> data(contents[index].size() + 1);
        int read = unzReadCurrentFile(reader, data.data(), static_cast<unsigned>(data.size()));
        data.resize(static_cast<std::size_t>(std::max(read, 0)));
        EXPECT_EQ(data, contents[index]) << "entry " << index;
        EXPECT_EQ(unzCloseCurrentFile(reader), UNZ_OK) << "CRC of entry " << index;
        ++index;
    }
    EXPECT_EQ(index, contents.size());
    unzClose(reader);
}

// The last buffered bytes reach the disk only when the archive is closed: a
// failure then must make the close fail, or a cut archive would pass as whole.
TEST(BufferedFileFunctions, FailedFinalWriteFailsTheClose) {
    MemoryFile archive;
    archive.LimitSize(1000);
    BufferedFileFunctions buffered(*archive.Functions());
    ZipWriter writer(zipOpen2_64("a.zip", APPEND_STATUS_CREATE, nullptr,
                                 const_cast<zlib_filefunc64_def*>(buffered.Functions())));
    EntryHeader header;
    header.name = "a.txt";
    header.method = 0;
    std::vector<unsigned char> data(900, 'x');
    ASSERT_TRUE(writer.BeginEntry(header));
    ASSERT_TRUE(writer.WriteEntryData(data.data(), data.size()));
    writer.EndEntry(static_cast<std::uint32_t>(crc32(0, data.data(), 900)), 900);
    EXPECT_FALSE(writer.Close());
}

} // namespace
} // namespace kelzar
