// Native tests' scratch folders and files, and archives read back through
// minizip's own reader (zlib's code, none of the program's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelzar::testing {

// A new empty folder, removed with everything in it at the end of the test.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder's path, ending in "/".
    const std::string& Path() const { return path_; }
    // Writes a file under the folder (making its folders); returns its path.
    std::string Write(const std::string& relative, const std::string& content) const;
    std::string MakeFolder(const std::string& relative) const;
    void Link(const std::string& relative, const std::string& target) const;
    // Every file under the folder, relative paths, sorted.
    std::vector<std::string> Files() const;

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);

// Text that deflates well, different for every seed.
std::string CompressibleText(std::size_t size, unsigned seed);
// Bytes that deflate cannot shrink, so an archive of them is as large.
std::string Incompressible(std::size_t size, std::uint32_t seed = 12345);

struct ReadEntry {
    std::string name; // as stored
    unsigned long flag = 0;
    unsigned long method = 0;
    std::string data;
    bool crcOk = false;
};

// Every entry of the archive, read whole, CRCs checked; empty when minizip
// cannot open it.
std::vector<ReadEntry> ReadArchive(const std::string& path);

} // namespace kelzar::testing
