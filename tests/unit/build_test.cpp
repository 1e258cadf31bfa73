// The archive operations natively, over the POSIX stand-in for the system
// layer: what a run stores, and that a run that fails anywhere leaves the
// old archive as it was and nothing of its own behind. Archives are read
// back with minizip's own reader.
#include "archive/build.h"
#include "archive/zip_files_flat.h"
#include "archive/zip_files_with_paths.h"
#include "common/text.h"
#include "scratch.h"
#include "sys/files.h"
#include "sys/posix_faults.h"
#include "sys/threads.h"
#include "sys/walk.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace kelzar {
namespace {

using testing::CompressibleText;
using testing::Incompressible;
using testing::ReadArchive;
using testing::ReadEntry;
using testing::ReadFile;
using testing::ScratchFolder;

constexpr unsigned long kUtf8Flag = 0x800;

class BuildTest : public ::testing::Test {
  protected:
    void TearDown() override { posix::Reset(); }

    std::string Path(const std::string& relative) const { return scratch.Path() + relative; }

    // Entries by stored name; every one must read back whole with its CRC.
    std::map<std::string, ReadEntry> Entries(const std::string& archive) const {
        std::map<std::string, ReadEntry> byName;
        for (ReadEntry& entry : ReadArchive(Path(archive))) {
            EXPECT_TRUE(entry.crcOk) << entry.name << " does not read back with its CRC";
            EXPECT_TRUE(byName.emplace(entry.name, entry).second) << entry.name << " twice";
        }
        return byName;
    }

    // Files the program keeps for itself (temporaries, lock files) left in
    // the scratch folder.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> found;
        for (const std::string& file : scratch.Files()) {
            if (file.find(".~kz") != std::string::npos) {
                found.push_back(file);
            }
        }
        return found;
    }

    int Flat(const std::string& archive, const std::string& pattern) {
        return ZipFilesFlat(archive, pattern, report);
    }
    int WithPaths(const std::string& archive, const std::string& pattern) {
        return ZipFilesWithPaths(archive, pattern, report);
    }

    ScratchFolder scratch;
    RunReport report;
};

TEST_F(BuildTest, NamesAreStoredInTheAnsiCodePageOrFlaggedUtf8) {
    scratch.Write("src/a.txt", "plain");
    scratch.Write("src/caf\xC3\xA9.txt", "latin");                                 // café
    scratch.Write("src/\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt", "cyrillic"); // отчёт
    scratch.Write("src/\xEF\xBD\x81.txt", "fullwidth");                            // ａ
    EXPECT_GT(Flat(Path("out.zip"), Path("src/*.txt")), 0);

    std::map<std::string, ReadEntry> entries = Entries("out.zip");
    ASSERT_EQ(entries.size(), 4u);
    // The stand-in's ANSI code page is ISO 8859-1.
    EXPECT_EQ(entries.at("a.txt").flag & kUtf8Flag, 0u);
    EXPECT_EQ(entries.at("caf\xE9.txt").flag & kUtf8Flag, 0u) << "held by the code page: as always";
    EXPECT_EQ(entries.at("caf\xE9.txt").data, "latin");
    EXPECT_NE(entries.at("\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt").flag & kUtf8Flag, 0u);
    EXPECT_EQ(entries.at("\xEF\xBD\x81.txt").data, "fullwidth") << "a look-alike is its own file";
}

TEST_F(BuildTest, ANameThatIsNotUnicodeIsLeftOutAndReported) {
    scratch.Write("src/good.txt", "good");
    scratch.Write("src/lone\xED\xA0\xBD.txt", "a lone surrogate in its name");
    EXPECT_EQ(Flat(Path("out.zip"), Path("src/*.txt")), 0) << "the run must report it";
    std::map<std::string, ReadEntry> entries = Entries("out.zip");
    ASSERT_EQ(entries.size(), 1u) << "the others are still archived";
    EXPECT_EQ(entries.begin()->first, "good.txt");
}

struct ReadFailure {
    const char* what;
    std::uint64_t readableBytes;
};

class FailingReads : public BuildTest, public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(FailingReads, LeaveTheFileOutAndNoBrokenEntry) {
    scratch.Write("src/a.txt", std::string(50'000, 'a'));
    std::string bad = scratch.Write("src/b.txt", std::string(200'000, 'b'));
    scratch.Write("src/c.txt", std::string(70'000, 'c'));
    posix::FailReadsAfter(bad, GetParam().readableBytes);

    EXPECT_EQ(Flat(Path("out.zip"), Path("src/*.txt")), 0) << GetParam().what;
    std::map<std::string, ReadEntry> entries = Entries("out.zip");
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.at("a.txt").data, std::string(50'000, 'a'));
    EXPECT_EQ(entries.at("c.txt").data, std::string(70'000, 'c'));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Reads, FailingReads,
                         ::testing::Values(ReadFailure{"before the first byte", 0},
                                           ReadFailure{"after the entry was begun", 100'000}));

struct DiskFull {
    const char* where;
    double fraction;      // of the complete archive's size
    std::int64_t fromEnd; // then bytes less
};

// Every way the writing can fail leaves the old archive byte for byte.
class FailedRun : public BuildTest, public ::testing::WithParamInterface<DiskFull> {};

TEST_P(FailedRun, LeavesTheOldArchiveAndNothingElse) {
    scratch.Write("src/a.txt", Incompressible(100'000));
    scratch.Write("src/b.txt", "b");
    ASSERT_GT(Flat(Path("measure.zip"), Path("src/*.txt")), 0);
    auto size = static_cast<double>(ReadFile(Path("measure.zip")).size());
    std::string old = scratch.Write("out.zip", "an old archive that must survive");

    posix::FailWritesAfter(static_cast<std::uint64_t>(size * GetParam().fraction -
                                                      static_cast<double>(GetParam().fromEnd)));
    EXPECT_EQ(Flat(old, Path("src/*.txt")), 0) << GetParam().where;
    EXPECT_EQ(ReadFile(old), "an old archive that must survive") << GetParam().where;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << GetParam().where;
}

INSTANTIATE_TEST_SUITE_P(FullDisk, FailedRun,
                         ::testing::Values(DiskFull{"at once", 0, 0},
                                           DiskFull{"in the first local header", 0, -10},
                                           DiskFull{"inside the data", 0.5, 0},
                                           DiskFull{"in the central directory", 1, 40},
                                           DiskFull{"in the end record", 1, 10},
                                           DiskFull{"at the last byte", 1, 1}));

TEST_F(BuildTest, AFailedMoveLeavesTheOldArchive) {
    std::string old = scratch.Write("out.zip", "old");
    scratch.Write("src/a.txt", "a");
    posix::FailMovesOnto(old);
    EXPECT_EQ(Flat(old, Path("src/*.txt")), 0);
    EXPECT_EQ(ReadFile(old), "old");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(BuildTest, TheArchiveNeverHoldsItselfOrItsBookkeeping) {
    scratch.Write("a.txt", "a");
    ASSERT_GT(Flat(Path("out.zip"), Path("*.*")), 0);
    // Again, with the archive and its lock and temporary in the listed folder.
    ASSERT_GT(Flat(Path("out.zip"), Path("*.*")), 0);
    std::map<std::string, ReadEntry> entries = Entries("out.zip");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->first, "a.txt");
}

TEST_F(BuildTest, TargetsThatMustNotBeWrittenAreRefused) {
    scratch.Write("src/a.txt", "a");
    std::string readOnly = scratch.Write("ro.zip", "read-only");
    ASSERT_TRUE(sys::SetAttributes(readOnly, sys::kAttributeReadOnly));
    EXPECT_EQ(Flat(readOnly, Path("src/*.txt")), 0);
    EXPECT_EQ(ReadFile(readOnly), "read-only");
    EXPECT_EQ(WithPaths(Path("w*.zip"), Path("src/*.txt")), 0) << "a wildcard names no one archive";
    EXPECT_EQ(scratch.Files(), (std::vector<std::string>{"ro.zip", "src/a.txt"}));
}

TEST_F(BuildTest, AnArchiveThatCannotBeExaminedIsNotReplaced) {
    // A link that leads to itself is there, but cannot be examined (ELOOP,
    // as access denied or a network error would be on Windows): neither
    // mode may take it for a missing archive and put one without its
    // entries in its place.
    scratch.Write("src/a.txt", "a");
    const std::string archive = Path("loop.zip");
    ASSERT_EQ(symlink("loop.zip", archive.c_str()), 0);
    EXPECT_EQ(WithPaths(archive, Path("src/*.txt")), 0);
    EXPECT_EQ(Flat(archive, Path("src/*.txt")), 0);
    char target[64] = {};
    EXPECT_EQ(readlink(archive.c_str(), target, sizeof target - 1), 8) << "the link was replaced";
    unlink(archive.c_str());
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(BuildTest, AnOrphanedLockDoesNotLockTheArchiveForGood) {
    // Left by a system that stopped, held by nobody; named by the digest of
    // the archive's canonical name (upper-cased by the POSIX stand-in).
    scratch.Write(".~kz" + HexDigest("OUT.ZIP") + ".lock", "");
    scratch.Write("src/a.txt", "a");
    EXPECT_GT(Flat(Path("out.zip"), Path("src/*.txt")), 0);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// An old archive made with minizip's own writer: one deflated, one stored
// entry, one with a UTF-8 name.
void MakeOldArchive(const std::string& path) {
    zipFile archive = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(archive, nullptr);
    auto add = [&](const char* name, const std::string& data, int method, unsigned long flag) {
        zip_fileinfo info{};
        info.dosDate = 0x5A2E7C21;
        ASSERT_EQ(zipOpenNewFileInZip4_64(archive, name, &info, nullptr, 0, nullptr, 0, nullptr,
                                          method, method ? 6 : 0, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                          Z_DEFAULT_STRATEGY, nullptr, 0, 0, flag, 0),
                  ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(archive, data.data(), static_cast<unsigned>(data.size())),
                  ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(archive), ZIP_OK);
    };
    add("old/deflated.txt", std::string(10'000, 'd'), Z_DEFLATED, 0);
    add("old/stored.txt", "stored as it is", 0, 0);
    add("old/\xD0\xB6.txt", "utf-8 name", Z_DEFLATED, kUtf8Flag);
    ASSERT_EQ(zipClose(archive, nullptr), ZIP_OK);
}

TEST_F(BuildTest, ThreadsThatCannotBeHadEndTheRunWithTheOldArchive) {
    // Every role of the pipeline waits for the others: one without its
    // thread must end the run, never leave it waiting. Even the first
    // worker thread, and the first thread of the read-back, may be missing.
    std::string archive = Path("out.zip");
    MakeOldArchive(archive);
    const std::string before = ReadFile(archive);
    scratch.Write("src/a.txt", CompressibleText(100'000, 1));
    for (std::size_t threads : {0u, 1u, 2u}) {
        posix::FailThreadsAfter(threads);
        EXPECT_EQ(WithPaths(archive, Path("src/*.txt")), 0) << threads << " threads";
        EXPECT_EQ(Flat(archive, Path("src/*.txt")), 0) << threads << " threads";
        EXPECT_EQ(ReadFile(archive), before) << "the old archive changed";
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
    EXPECT_FALSE(report.Failures().empty()) << "the cause is reported";
}

TEST_F(BuildTest, AnUpdateKeepsTheOldEntriesBeforeTheNewOnes) {
    std::string archive = Path("out.zip");
    MakeOldArchive(archive);
    scratch.Write("src/a.txt", "a");
    scratch.Write("src/sub/b.txt", "b");
    ASSERT_GT(WithPaths(archive, Path("src/*.txt")), 0);

    std::vector<ReadEntry> entries = ReadArchive(archive);
    std::vector<std::string> names;
    for (const ReadEntry& entry : entries) {
        EXPECT_TRUE(entry.crcOk) << entry.name;
        names.push_back(entry.name);
    }
    std::string stored = scratch.Path().substr(1); // the path less its leading "/"
    std::replace(stored.begin(), stored.end(), '/', '\\');
    EXPECT_EQ(names,
              (std::vector<std::string>{"old/deflated.txt", "old/stored.txt", "old/\xD0\xB6.txt",
                                        stored + "src\\a.txt", stored + "src\\sub\\b.txt"}));
    EXPECT_EQ(entries[1].data, "stored as it is");
    EXPECT_EQ(entries[1].method, static_cast<unsigned long>(Z_DEFLATED)) << "stored: deflated anew";
    EXPECT_NE(entries[2].flag & kUtf8Flag, 0u) << "the old name keeps its UTF-8 flag";
}

TEST_F(BuildTest, FailuresMetOnSeveralThreadsAtOnceAreAllReported) {
    // The walk (on the feed's thread) and the writer both report at once: a
    // listing that breaks off while files already handed on cannot be read,
    // and a second pass (a large file that fails after its first block)
    // that asks what the first left out while the writer still adds.
    for (int round = 0; round < 5; ++round) {
        scratch.Write("src/a.txt", "a");
        scratch.Write("src/b.txt", "b");
        scratch.Write("src/c.txt", "c");
        std::string big = scratch.Write("src/big.txt", Incompressible(3'000'000, 7));
        posix::FailReadsAfter(Path("src/a.txt"), 0);
        posix::FailReadsAfter(big, 2'500'000);
        posix::FailListingAfter(Path("src"), 3);
        EXPECT_EQ(WithPaths(Path("out.zip"), Path("src/*.txt")), 0);
        EXPECT_GE(report.Failures().size(), 3u) << "a read, the large file and the listing";
        posix::Reset();
        std::remove(Path("out.zip").c_str());
    }
}

TEST_F(BuildTest, AnUpdateWhoseWalkBrokeOffIsReported) {
    scratch.Write("src/a.txt", "a");
    scratch.Write("src/b.txt", "b");
    posix::FailListingAfter(Path("src"), 1);
    EXPECT_EQ(WithPaths(Path("out.zip"), Path("src/*.txt")), 0);
    EXPECT_EQ(ReadArchive(Path("out.zip")).size(), 1u) << "what was listed is still archived";
}

} // namespace
} // namespace kelzar

namespace kelzar {
namespace {

// The old archive of MakeOldArchive with one byte of an entry's data flipped.
std::string DamageEntry(const std::string& archive, const std::string& marker) {
    std::string bytes = ReadFile(archive);
    std::size_t at = bytes.find(marker);
    EXPECT_NE(at, std::string::npos);
    // Past the local header that follows the name: inside the entry's data.
    bytes[at + marker.size() + 3] ^= 0x08;
    std::FILE* out = std::fopen(archive.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    return bytes;
}

class DamagedOldEntry : public BuildTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DamagedOldEntry, LeavesTheOldArchiveAsItWas) {
    std::string archive = Path("out.zip");
    MakeOldArchive(archive);
    std::string damaged = DamageEntry(archive, GetParam());
    scratch.Write("src/a.txt", "a");
    EXPECT_EQ(WithPaths(archive, Path("src/*.txt")), 0)
        << "damage carried into the new archive would fail every reader";
    EXPECT_EQ(ReadFile(archive), damaged);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    ASSERT_FALSE(report.Failures().empty());
}

INSTANTIATE_TEST_SUITE_P(Entries, DamagedOldEntry,
                         ::testing::Values("old/deflated.txt", "old/stored.txt"));

TEST_F(BuildTest, ABriefHoldOnTheOldArchiveIsWaitedOut) {
    std::string archive = scratch.Write("out.zip", "old");
    scratch.Write("src/a.txt", "a");
    posix::HoldAgainstMovesFor(archive, 400);
    std::uint64_t start = sys::MonotonicMs();
    EXPECT_GT(Flat(archive, Path("src/*.txt")), 0);
    EXPECT_GE(sys::MonotonicMs() - start, 400u) << "the replacement was not tried again";
    EXPECT_EQ(Entries("out.zip").size(), 1u);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

struct LastingFailure {
    const char* what;
    std::uint32_t code;
    std::uint64_t atLeastMs;
    std::uint64_t atMostMs;
};

class FailedReplacement : public BuildTest, public ::testing::WithParamInterface<LastingFailure> {};

TEST_P(FailedReplacement, GivesUpAndLeavesTheOldArchive) {
    std::string archive = scratch.Write("out.zip", "old");
    scratch.Write("src/a.txt", "a");
    posix::FailMovesOnto(archive, GetParam().code);
    std::uint64_t start = sys::MonotonicMs();
    EXPECT_EQ(Flat(archive, Path("src/*.txt")), 0);
    std::uint64_t took = sys::MonotonicMs() - start;
    EXPECT_GE(took, GetParam().atLeastMs) << GetParam().what;
    EXPECT_LE(took, GetParam().atMostMs) << GetParam().what;
    EXPECT_EQ(ReadFile(archive), "old");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    ASSERT_FALSE(report.Failures().empty());
    EXPECT_EQ(report.Failures().back().code, GetParam().code) << "the cause is kept";
}

INSTANTIATE_TEST_SUITE_P(
    Holds, FailedReplacement,
    ::testing::Values(LastingFailure{"a hold that outlasts the wait", EBUSY, 5000, 8000},
                      LastingFailure{"a failure no waiting mends", EACCES, 0, 1000}));

TEST_F(BuildTest, TheReportNamesEachCause) {
    scratch.Write("src/a.txt", "a");
    std::string bad = scratch.Write("src/b.txt", std::string(1000, 'b'));
    posix::FailReadsAfter(bad, 0);
    EXPECT_EQ(Flat(Path("out.zip"), Path("src/*.txt")), 0);
    ASSERT_EQ(report.Failures().size(), 1u);
    EXPECT_EQ(report.Failures()[0].path, bad);
    EXPECT_EQ(report.Failures()[0].code, static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(DescribeFailure(report.Failures()[0]),
              "kelzar: cannot read " + bad + " (error " + std::to_string(EIO) + ")");
}

} // namespace
} // namespace kelzar

namespace kelzar {
namespace {

// The archive a run makes of the scratch folder's src/ files with `workers`
// threads, as bytes.
std::string ArchiveWithWorkers(const std::string& folder, const std::string& archive,
                               unsigned workers) {
    RunReport report;
    auto target = ArchiveTarget::Claim(archive, report);
    EXPECT_NE(target, nullptr);
    std::vector<FileToAdd> files;
    for (const sys::DirEntry& entry : sys::ListEntries(folder + "*.*").entries) {
        if (!entry.Has(sys::kAttributeDirectory)) {
            files.push_back(
                FileToAdd{folder + entry.name, entry.name, entry.name, entry.lastWriteUtc});
        }
    }
    BuildResult result = BuildArchive(*target, files, nullptr, workers);
    EXPECT_TRUE(result.inPlace && result.allAdded) << workers << " workers";
    return ReadFile(archive);
}

TEST_F(BuildTest, TheArchiveIsTheSameWhateverTheNumberOfWorkers) {
    // Many small files, and large ones compressed in blocks.
    for (int i = 0; i < 300; ++i) {
        scratch.Write("src/small" + std::to_string(i) + ".txt", CompressibleText(50 + i * 37, i));
    }
    scratch.Write("src/big.bin", CompressibleText(3'500'000, 7) + Incompressible(600'000));
    scratch.Write("src/exact.bin", CompressibleText(2u << 20, 9)); // exactly two blocks
    std::string one = ArchiveWithWorkers(Path("src/"), Path("one.zip"), 1);
    EXPECT_EQ(ArchiveWithWorkers(Path("src/"), Path("two.zip"), 2), one);
    EXPECT_EQ(ArchiveWithWorkers(Path("src/"), Path("eight.zip"), 8), one);

    std::map<std::string, ReadEntry> entries = Entries("one.zip");
    ASSERT_EQ(entries.size(), 302u);
    EXPECT_EQ(entries.at("big.bin").data, CompressibleText(3'500'000, 7) + Incompressible(600'000))
        << "blocks compressed apart read back as one stream";
    EXPECT_EQ(entries.at("exact.bin").data, CompressibleText(2u << 20, 9));
    EXPECT_EQ(entries.at("small17.txt").data, CompressibleText(50 + 17 * 37, 17));
}

TEST_F(BuildTest, ABlockThatCannotBeReadRebuildsTheArchiveWithoutItsFile) {
    // In the folder-tree mode the second pass walks the tree again.
    for (bool withPaths : {false, true}) {
        scratch.Write("src/a.txt", "a");
        std::string big = scratch.Write("src/big.bin", CompressibleText(3'000'000, 3));
        scratch.Write("src/sub/c.txt", "c");
        posix::FailReadsAfter(big, 2'500'000); // the third block fails
        const std::string archive = withPaths ? "tree.zip" : "flat.zip";
        EXPECT_EQ(withPaths ? WithPaths(Path(archive), Path("src/*.*"))
                            : Flat(Path(archive), Path("src/*.*")),
                  0);
        std::map<std::string, ReadEntry> entries = Entries(archive);
        EXPECT_EQ(entries.size(), withPaths ? 2u : 1u)
            << "no broken entry for the file that failed, the others kept";
        for (const auto& [name, entry] : entries) {
            EXPECT_EQ(name.find("big.bin"), std::string::npos) << name;
        }
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
}

} // namespace
} // namespace kelzar

namespace kelzar {
namespace {

TEST_F(BuildTest, WhatIsStoredIsTheFileAsOpenedNotAsListed) {
    // A listing can report a size that lags behind the file's: a log that
    // another program is writing. Here the files grow and shrink between
    // the listing and the run, one of them past the block size.
    const std::string folder = Path("src/");
    scratch.Write("src/log.txt", "first line\n");
    scratch.Write("src/big.log", CompressibleText(500'000, 1));
    scratch.Write("src/cut.txt", std::string(5000, 'c'));
    std::vector<FileToAdd> files;
    for (const sys::DirEntry& entry : sys::ListEntries(folder + "*.*").entries) {
        if (!entry.Has(sys::kAttributeDirectory)) {
            files.push_back(
                FileToAdd{folder + entry.name, entry.name, entry.name, entry.lastWriteUtc});
        }
    }
    ASSERT_EQ(files.size(), 3u);
    const std::string grown = "first line\n" + CompressibleText(200'000, 2);
    const std::string big = CompressibleText(2'600'000, 3); // three blocks now
    scratch.Write("src/log.txt", grown);
    scratch.Write("src/big.log", big);
    scratch.Write("src/cut.txt", "c");

    auto target = ArchiveTarget::Claim(Path("out.zip"), report);
    ASSERT_NE(target, nullptr);
    BuildResult result = BuildArchive(*target, files, nullptr, 2);
    EXPECT_TRUE(result.inPlace && result.allAdded);
    std::map<std::string, ReadEntry> entries = Entries("out.zip");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries.at("log.txt").data, grown);
    EXPECT_EQ(entries.at("big.log").data, big);
    EXPECT_EQ(entries.at("cut.txt").data, "c");
}

} // namespace
} // namespace kelzar
