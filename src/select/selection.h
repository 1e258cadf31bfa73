// Turns FilesToZip into the files a run stores, before any archive work: a
// finished table for one folder, a walk that streams its finds for a tree.
// What could not be searched is kept as gaps, for the run's report.
#pragma once

#include "common/result.h"
#include "select/file_to_add.h"

#include <string>
#include <vector>

namespace kelzar {

struct FlatSelection {
    std::vector<FileToAdd> files;
    std::vector<Failure> gaps; // the listing broke off: files may be missing
};

// The visible files that match the pattern in its one folder, each stored
// under its bare name and opened through the folder's full path.
FlatSelection SelectFlat(const std::string& filesToZip);

// The visible files that match the pattern in its folder tree, each stored
// under its full path less the drive or share.
class TreeSelection {
  public:
    explicit TreeSelection(std::string filesToZip) : filesToZip_(std::move(filesToZip)) {}

    // Walks the tree, emitting each file as the walk finds it. Read Gaps()
    // only once the feed has returned.
    FileFeed Feed();
    // What the last walk could not reach.
    const std::vector<Failure>& Gaps() const { return gaps_; }

  private:
    void Walk(const FileEmitter& emit);

    std::string filesToZip_;
    std::vector<Failure> gaps_;
};

} // namespace kelzar
