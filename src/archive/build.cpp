#include "archive/build.h"

#include "archive/file_entry.h"

namespace kelzar {

namespace {

enum class PassOutcome { Finished, Restart, Failed };

struct Pass {
    int added = 0;
    bool allAdded = true;
};

// One attempt at writing every file not yet excluded. A file that fails after
// its entry was begun has left a broken entry: it is excluded and the whole
// archive is written again without it.
PassOutcome WriteFiles(ArchiveTarget& target, ZipWriter& writer,
                       const std::vector<FileToAdd>& files, std::vector<bool>& excluded,
                       Pass& pass) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (excluded[i]) {
            continue;
        }
        std::optional<StoredName> name = EncodeEntryName(files[i].entryName);
        if (!name) {
            target.Report().Add("store a name that is not valid Unicode:", files[i].path);
            excluded[i] = true;
            pass.allAdded = false;
            continue;
        }
        Result<sys::InputFile> file = sys::InputFile::Open(files[i].path);
        if (!file) {
            target.Report().Add(file.Why());
            excluded[i] = true;
            pass.allAdded = false;
            continue;
        }
        if (target.IsOwnFile(file->Id())) {
            excluded[i] = true; // the archive never holds itself
            continue;
        }
        Failure why;
        switch (AddFileEntry(writer, *file, *name, why)) {
        case EntryOutcome::Added:
            ++pass.added;
            break;
        case EntryOutcome::Unreadable:
            target.Report().Add(why);
            excluded[i] = true;
            pass.allAdded = false;
            break;
        case EntryOutcome::FailedPartWritten:
            target.Report().Add(why);
            excluded[i] = true;
            pass.allAdded = false;
            return PassOutcome::Restart;
        case EntryOutcome::ArchiveFailed:
            target.Report().Add(target.TemporaryFailure().value_or(why));
            return PassOutcome::Failed;
        }
    }
    return PassOutcome::Finished;
}

} // namespace

BuildResult BuildArchive(ArchiveTarget& target, const std::vector<FileToAdd>& files,
                         const CarryOver& carryOver) {
    std::vector<bool> excluded(files.size(), false);
    bool allAdded = true;
    for (;;) {
        ZipWriter* writer = target.BeginTemporary();
        if (writer == nullptr) {
            return {};
        }
        if (carryOver) {
            if (Status carried = carryOver(*writer); !carried) {
                target.Report().Add(target.TemporaryFailure().value_or(carried.Why()));
                return {};
            }
        }
        Pass pass;
        PassOutcome outcome = WriteFiles(target, *writer, files, excluded, pass);
        allAdded = allAdded && pass.allAdded;
        if (outcome == PassOutcome::Restart) {
            continue;
        }
        if (outcome == PassOutcome::Finished && pass.added == 0) {
            target.Report().Add("find a file to store among those that matched", target.Path());
        }
        if (outcome == PassOutcome::Failed || pass.added == 0 || !target.Commit()) {
            return {};
        }
        return BuildResult{pass.added, allAdded, true};
    }
}

} // namespace kelzar
