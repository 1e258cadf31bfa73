// The writer's spooled central directory against minizip keeping it to the
// end: the same archive, byte for byte, however the entries fall into runs,
// across the entry count at which the Zip64 end records begin.
#include "archive/zip_files.h"
#include "archive/zip_writer.h"
#include "scratch.h"
#include "sys/files.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <ostream>

namespace kelzar {
namespace {

using testing::ReadArchive;
using testing::ReadFile;
using testing::ScratchFolder;

// Entry i: a name and a few stored bytes of its own.
void WriteEntries(ZipWriter& writer, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        EntryHeader header;
        header.name = "d" + std::to_string(i / 1000) + "/f" + std::to_string(i) + ".txt";
        header.method = 0;
        header.level = 0;
        header.dosDateTime = 0x5A2E7C21;
        const std::string data = std::to_string(i * 7919);
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        ASSERT_TRUE(writer.BeginEntry(header) && writer.WriteEntryData(data.data(), data.size()) &&
                    writer.EndEntry(crc, data.size()))
            << i;
    }
}

// minizip's own file layer and its whole directory in memory.
std::string Unspooled(const std::string& path, std::size_t count) {
    ZipWriter writer(zipOpen64(path.c_str(), APPEND_STATUS_CREATE));
    WriteEntries(writer, count);
    EXPECT_TRUE(writer.Close());
    return ReadFile(path);
}

std::string Spooled(const std::string& folder, std::size_t count, DirectoryRuns runs) {
    auto file = sys::CreateUniqueFile(folder + "archive-", ".zip", 0);
    auto spool = sys::CreateUniqueFile(folder + "spool-", ".tmp", 0);
    EXPECT_TRUE(file && spool);
    WrittenReach reach;
    SpooledArchive archive(file->file, &reach, spool->file);
    ZipWriter writer(archive.Create(), &archive, runs);
    WriteEntries(writer, count);
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(writer.Written().Count(), count);
    EXPECT_TRUE(file->file.Close());
    std::string bytes = ReadFile(file->name);
    EXPECT_EQ(reach.bytes, bytes.size()) << "the reach follows every write";
    return bytes;
}

struct Case {
    std::size_t entries;
    DirectoryRuns runs;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.entries << " entries, runs of " << c.runs.entries << " or " << c.runs.bytes
         << " bytes";
}

class SpooledDirectory : public ::testing::TestWithParam<Case> {};

TEST_P(SpooledDirectory, GivesTheArchiveMinizipWouldHaveWritten) {
    const Case c = GetParam();
    ScratchFolder scratch;
    const std::string expected = Unspooled(scratch.Path() + "reference.zip", c.entries);
    const std::string got = Spooled(scratch.Path(), c.entries, c.runs);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the archives differ";
    EXPECT_EQ(ReadArchive(scratch.Path() + "reference.zip").size(), c.entries);
}

INSTANTIATE_TEST_SUITE_P(Runs, SpooledDirectory,
                         ::testing::Values(Case{0, {}}, Case{1, {}}, Case{1, {1, 1 << 20}},
                                           Case{5, {1, 1 << 20}}, Case{12, {5, 1 << 20}},
                                           Case{12, {4096, 200}}, Case{4097, {}},
                                           // The end record counts at most 65,534; from 65,535 on
                                           // the Zip64 end records hold the count.
                                           Case{65'534, {1000, 1 << 20}},
                                           Case{65'535, {1000, 1 << 20}}, Case{65'536, {}}));

} // namespace
} // namespace kelzar
