#include "archive/zip_files_with_paths.h"

#include "archive/build.h"
#include "archive/carry_over.h"
#include "archive/zip_files.h"
#include "select/selection.h"
#include "sys/files.h"

namespace kelzar {

namespace {

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
Status CarryOverFrom(const std::string& zipfilePath, ZipWriter& writer,
                     const EntryCarried& written) {
    auto file = sys::RandomAccessFile::OpenForReading(zipfilePath);
    if (!file) {
        return file.Why();
    }
    SourceArchive source(OpenZipArchive(*file));
    Status carried = source ? CarryOverEntries(source.get(), writer, written)
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
        carryOver = [&](ZipWriter& writer, const EntryCarried& carried) {
            return CarryOverFrom(zipfilePath, writer, carried);
        };
    }
    // The walk goes on while the files it has found are compressed. A
    // folder it could not search may hold files that belong in the archive:
    // the others are added, and the run reports the gap.
    TreeSelection selection(filesToZip);
    BuildResult result = BuildArchive(*target, selection.Feed(), carryOver);
    for (const Failure& gap : selection.Gaps()) {
        report.Add(gap);
    }
    if (result.found == 0) {
        report.Add("find a file that matches", filesToZip);
        return 0;
    }
    return result.inPlace && result.allAdded && selection.Gaps().empty() ? result.added : 0;
}

} // namespace kelzar
