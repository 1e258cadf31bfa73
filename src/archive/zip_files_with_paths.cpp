#include "archive/zip_files_with_paths.h"

#include "archive/build.h"
#include "archive/carry_over.h"
#include "archive/zip_files.h"
#include "common/text.h"
#include "select/collect.h"
#include "select/path.h"
#include "sys/files.h"

namespace kelzar {

namespace {

// The pattern with its folder made full and long: the walk then yields full
// paths, and a file gets one name however the folder was spelt (relative,
// drive-relative, with "." or "..", an 8.3 alias). A folder the system
// cannot resolve is walked as given, and its listing reports what fails.
FilePattern ResolvedPattern(const std::string& filesToZip) {
    FilePattern pattern = ParseFilePattern(filesToZip);
    if (Result<std::string> full = sys::FullFolderPath(pattern.folder)) {
        pattern.folder = std::move(*full);
    }
    return pattern;
}

// Walks the tree and emits each file to store as the walk finds it. Hidden
// and system files are listed by the walk but never archived, and leaving
// them out is no failure. Each is stored under its full path less its drive
// or share, with "\\" throughout. What the walk could not reach goes to the
// report.
FileFeed WalkFeed(const std::string& filesToZip, RunReport& report, bool& incomplete) {
    return [&filesToZip, &report, &incomplete](const FileEmitter& emit) {
        FileList list;
        std::size_t index = 0;
        CollectFiles(ResolvedPattern(filesToZip), list, [&](const CollectedFile& file) {
            if ((file.attributes & (sys::kAttributeHidden | sys::kAttributeSystem)) != 0) {
                return;
            }
            std::string path = file.Path();
            std::string entryName = EntryNameOfPath(WithBackslashes(path));
            emit(index++,
                 FileToAdd{std::move(path), file.name, std::move(entryName), file.lastWriteUtc});
        });
        incomplete = list.Incomplete();
        for (const Failure& gap : list.gaps) {
            report.Add(gap);
        }
    };
}

struct UnzCloser {
    void operator()(void* archive) const { unzClose(archive); }
};
using SourceArchive = std::unique_ptr<void, UnzCloser>;

// Whether the archive begins with an entry or, holding none, with its end
// records. Anything else is bytes of its own before the first entry: the
// program stub of a self-extracting archive, say, which the new archive
// would not have.
bool BeginsWithTheArchive(const sys::RandomAccessFile& file) {
    unsigned char first[4] = {};
    if (!file.ReadAt(0, first, sizeof first) || first[0] != 'P' || first[1] != 'K') {
        return false;
    }
    const unsigned kind = first[2] | (first[3] << 8);
    return kind == 0x0403 || kind == 0x0605 || kind == 0x0606; // local header, end records
}

// A file that is there but is no archive minizip can read, or one whose
// update would lose bytes of it.
Status CheckReadableArchive(const std::string& zipfilePath) {
    auto file = sys::RandomAccessFile::OpenForReading(zipfilePath);
    if (!file) {
        return file.Why();
    }
    if (!SourceArchive(OpenZipArchive(*file))) {
        return file->FirstFailure().value_or(
            Failure{0, "read as an archive (keeping it as it is)", zipfilePath});
    }
    if (!BeginsWithTheArchive(*file)) {
        return Failure{0, "keep the bytes before the first entry (keeping it as it is) of",
                       zipfilePath};
    }
    return Status::Done();
}

// Carries the archive's entries over, holding it open only meanwhile: an
// archive still open could not be replaced by the new one.
Status CarryOverFrom(const std::string& zipfilePath, ZipWriter& writer) {
    auto file = sys::RandomAccessFile::OpenForReading(zipfilePath);
    if (!file) {
        return file.Why();
    }
    SourceArchive source(OpenZipArchive(*file));
    Status carried = source ? CarryOverEntries(source.get(), writer)
                            : Status(Failure{0, "read as an archive", {}});
    if (carried) {
        return carried;
    }
    Failure failure = file->FirstFailure().value_or(carried.Why());
    if (failure.path.empty()) {
        failure.path = zipfilePath;
    }
    return failure;
}

} // namespace

int ZipFilesWithPaths(const std::string& zipfilePath, const std::string& filesToZip,
                      RunReport& report) {
    // Claimed first, so that the walk sees what an earlier run on the same
    // archive left, and no leftover temporary of a killed run.
    auto target = ArchiveTarget::Claim(zipfilePath, report);
    if (!target) {
        return 0;
    }
    // Something the user may want to keep is never replaced.
    CarryOver carryOver;
    if (target->Exists()) {
        if (Status readable = CheckReadableArchive(zipfilePath); !readable) {
            report.Add(readable.Why());
            return 0;
        }
        carryOver = [&](ZipWriter& writer) { return CarryOverFrom(zipfilePath, writer); };
    }
    // The walk goes on while the files it has found are compressed. A
    // folder it could not search may hold files that belong in the archive:
    // the others are added, and the run reports the gap.
    bool walkIncomplete = false;
    BuildResult result =
        BuildArchive(*target, WalkFeed(filesToZip, report, walkIncomplete), carryOver);
    if (result.found == 0) {
        report.Add("find a file that matches", filesToZip);
        return 0;
    }
    return result.inPlace && result.allAdded && !walkIncomplete ? result.added : 0;
}

} // namespace kelzar
