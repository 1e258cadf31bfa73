// Feeds arbitrary bytes as an old archive to the carry-over. It must never
// crash, hang or allocate by what the archive declares; and when it reports
// success, the new archive must hold the same entries with the same names,
// dates, CRCs and sizes.
#include "archive/buffered_io.h"
#include "archive/carry_over.h"
#include "memory_io.h"

#include <unzip.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct EntrySummary {
    std::string name;
    uLong dosDate;
    uLong crc;
    ZPOS64_T size;
    bool operator==(const EntrySummary&) const = default;
};

// Every header of the central directory, walked by position.
std::vector<EntrySummary> Summarise(unzFile archive, ZPOS64_T limit) {
    std::vector<EntrySummary> entries;
    std::vector<char> name(0x10000);
    int step = unzGoToFirstFile(archive);
    ZPOS64_T position = unzGetOffset64(archive);
    while (step == UNZ_OK && entries.size() < limit) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(archive, &info, name.data(), name.size(), nullptr, 0, nullptr,
                                    0) != UNZ_OK) {
            break;
        }
        entries.push_back({std::string(name.data(), info.size_filename), info.dosDate, info.crc,
                           info.uncompressed_size});
        position += 46 + info.size_filename + info.size_file_extra + info.size_file_comment;
        step = unzSetOffset64(archive, position);
    }
    return entries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Through the same buffered layer the program reads archives with.
    kelzar::testing::MemoryFile input(data, size);
    kelzar::BufferedFileFunctions inputLayer(*input.Functions());
    unzFile source =
        unzOpen2_64("old.zip", const_cast<zlib_filefunc64_def*>(inputLayer.Functions()));
    if (source == nullptr) {
        return 0;
    }
    kelzar::testing::MemoryFile output;
    bool carried = false;
    {
        kelzar::ZipWriter writer(
            zipOpen2_64("new.zip", APPEND_STATUS_CREATE, nullptr, output.Functions()));
        carried = kelzar::CarryOverEntries(source, writer, [] { return true; }) && writer.Close();
    }
    if (carried) {
        unz_global_info64 global{};
        unzGetGlobalInfo64(source, &global);
        unzFile result = unzOpen2_64("new.zip", output.Functions());
        if (result == nullptr) {
            std::abort(); // a successful carry-over wrote an unreadable archive
        }
        unz_global_info64 written{};
        unzGetGlobalInfo64(result, &written);
        ZPOS64_T count = written.number_entry;
        if (Summarise(source, count) != Summarise(result, count)) {
            std::abort(); // an entry lost its name, date, CRC or size
        }
        unzClose(result);
    }
    unzClose(source);
    return 0;
}
