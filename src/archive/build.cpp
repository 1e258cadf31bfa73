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
        auto file = name ? sys::InputFile::Open(files[i].path) : std::nullopt;
        if (!file) {
            excluded[i] = true;
            pass.allAdded = false;
            continue;
        }
        if (target.IsOwnFile(file->Id())) {
            excluded[i] = true; // the archive never holds itself
            continue;
        }
        switch (AddFileEntry(writer, *file, *name)) {
        case EntryOutcome::Added:
            ++pass.added;
            break;
        case EntryOutcome::Unreadable:
            excluded[i] = true;
            pass.allAdded = false;
            break;
        case EntryOutcome::FailedPartWritten:
            excluded[i] = true;
            pass.allAdded = false;
            return PassOutcome::Restart;
        case EntryOutcome::ArchiveFailed:
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
        if (writer == nullptr || (carryOver && !carryOver(*writer))) {
            return {};
        }
        Pass pass;
        PassOutcome outcome = WriteFiles(target, *writer, files, excluded, pass);
        allAdded = allAdded && pass.allAdded;
        if (outcome == PassOutcome::Restart) {
            continue;
        }
        if (outcome == PassOutcome::Failed || pass.added == 0 || !target.Commit()) {
            return {};
        }
        return BuildResult{pass.added, allAdded, true};
    }
}

} // namespace kelzar
