#include "archive/written_entries.h"
#include "written_records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace kelzar {
namespace {

using testing::Packed;
using testing::Unpacked;

auto Fields(const WrittenEntry& e) {
    return std::tie(e.name, e.compressedSize, e.uncompressedSize, e.localOffset, e.checkedDataAt,
                    e.dosDateTime, e.crc, e.method, e.utf8Flag, e.zip64);
}

void ExpectSame(const std::vector<WrittenEntry>& want, std::size_t first,
                const std::vector<WrittenEntry>& got) {
    ASSERT_EQ(got.size(), want.size() - std::min(first, want.size())) << "from " << first;
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_TRUE(Fields(got[i]) == Fields(want[first + i]))
            << "entry " << first + i << " read from " << first << ": " << got[i].name;
    }
}

// Entries of every shape the records must keep exactly: names sharing more,
// less or all of the one before, empty, 64 KiB and more than a block;
// offsets going back as well as on; sizes past 32 and 63 bits; any method
// and flag; marks and none.
std::vector<WrittenEntry> Varied(std::size_t count) {
    std::mt19937_64 random(7);
    std::vector<WrittenEntry> entries;
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < count; ++i) {
        WrittenEntry e;
        switch (i % 9) {
        case 0:
            e.name = "folder\\sub\\file" + std::to_string(i) + ".txt";
            break;
        case 1:
            e.name = "folder\\sub\\file" + std::to_string(i) + ".txt.bak";
            break;
        case 2:
            e.name = "folder";
            break;
        case 3:
            e.name = "";
            break;
        case 4:
            e.name = std::string(65'535, static_cast<char>('a' + i % 26));
            break;
        case 5:
            e.name = std::string(i == 5 ? 1'500'000 : 3, '\xD0');
            break;
        default:
            e.name = "other\\" + std::to_string(random());
            break;
        }
        e.compressedSize = i % 7 == 0 ? std::numeric_limits<std::uint64_t>::max() : random() % 5000;
        e.uncompressedSize = i % 5 == 0 ? (std::uint64_t{1} << 32) + i : random() % 9000;
        offset = i % 11 == 0 ? offset / 2 : offset + 30 + e.name.size() + (random() % 100'000);
        e.localOffset = i % 13 == 0 ? (std::uint64_t{1} << 63) + i : offset;
        if (i % 3 == 0) {
            e.checkedDataAt = e.localOffset + 30 + (i % 70'000);
        }
        e.dosDateTime = static_cast<std::uint32_t>(random());
        e.crc = static_cast<std::uint32_t>(random());
        e.method = static_cast<std::uint16_t>(i % 4 == 0 ? 0 : i % 4 == 1 ? 8 : random());
        e.utf8Flag = static_cast<std::uint16_t>(i % 2 == 0 ? 0x800 : 0);
        e.zip64 = i % 6 == 0;
        entries.push_back(e);
    }
    return entries;
}

TEST(WrittenEntries, GivesBackWhatWasAddedFromAnyEntryOn) {
    const std::vector<WrittenEntry> entries = Varied(300);
    const WrittenEntries packed = Packed(entries);
    EXPECT_EQ(packed.Count(), entries.size());
    // Group starts and ends, the entry past the huge name, the last, past it.
    for (std::size_t first : {0, 1, 6, 63, 64, 65, 128, 200, 299, 300, 1000}) {
        ExpectSame(entries, first, Unpacked(packed, first));
    }
}

TEST(WrittenEntries, NothingAddedReadsAsNothing) {
    WrittenEntries none;
    EXPECT_EQ(none.Count(), 0u);
    EXPECT_EQ(none.From(0).Next(), nullptr);
    EXPECT_FALSE(none.MarkChecked(0, 100));
}

TEST(WrittenEntries, MarksInAnyOrderWhileEntriesAreAdded) {
    std::vector<WrittenEntry> entries = Varied(400);
    for (WrittenEntry& e : entries) {
        e.checkedDataAt.reset();
    }
    // Each entry marked as the trailing read-back marks it, just after it
    // was added; then some again and out of order, across groups.
    WrittenEntries packed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        packed.Add(entries[i]);
        if (i % 2 == 0) {
            entries[i].checkedDataAt = entries[i].localOffset + 46 + i;
            ASSERT_TRUE(packed.MarkChecked(i, *entries[i].checkedDataAt)) << i;
        }
    }
    for (std::size_t i : {399, 3, 64, 63, 200, 0, 130}) {
        entries[i].checkedDataAt = entries[i].localOffset + 1;
        ASSERT_TRUE(packed.MarkChecked(i, *entries[i].checkedDataAt)) << i;
    }
    ExpectSame(entries, 0, Unpacked(packed, 0));
}

TEST(WrittenEntries, RefusesMarksThatCannotBeTheEntrys) {
    std::vector<WrittenEntry> entries = Varied(70);
    WrittenEntries packed = Packed(entries);
    const std::uint64_t at = entries[65].localOffset;
    struct Case {
        std::size_t index;
        std::uint64_t dataAt;
    };
    for (Case c : {Case{70, at + 30}, Case{65, at}, Case{65, at - 1},
                   Case{65, at + (std::uint64_t{1} << 32)}}) {
        EXPECT_FALSE(packed.MarkChecked(c.index, c.dataAt)) << c.index << " at " << c.dataAt;
    }
    // None of them changed anything.
    ExpectSame(entries, 0, Unpacked(packed, 0));
}

} // namespace
} // namespace kelzar
