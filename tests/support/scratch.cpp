#include "scratch.h"

#include <unzip.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kelzar::testing {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "kelzar-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a scratch folder");
    }
    path_ = pattern + "/";
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string ScratchFolder::Write(const std::string& relative, const std::string& content) const {
    fs::path path = path_ + relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

std::string ScratchFolder::MakeFolder(const std::string& relative) const {
    fs::create_directories(path_ + relative);
    return path_ + relative;
}

void ScratchFolder::Link(const std::string& relative, const std::string& target) const {
    fs::create_directory_symlink(target, path_ + relative);
}

std::vector<std::string> ScratchFolder::Files() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(path_)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), path_).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string CompressibleText(std::size_t size, unsigned seed) {
    std::string text;
    while (text.size() < size) {
        text += "line " + std::to_string(seed++ * 7919u % 100003u) + " of the entry\r\n";
    }
    text.resize(size);
    return text;
}

std::string Incompressible(std::size_t size, std::uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

std::vector<ReadEntry> ReadArchive(const std::string& path) {
    std::vector<ReadEntry> entries;
    unzFile archive = unzOpen64(path.c_str());
    if (archive == nullptr) {
        return entries;
    }
    for (int step = unzGoToFirstFile(archive); step == UNZ_OK; step = unzGoToNextFile(archive)) {
        unz_file_info64 info{};
        std::vector<char> name(0x10000);
        unzGetCurrentFileInfo64(archive, &info, name.data(), static_cast<uLong>(name.size()),
                                nullptr, 0, nullptr, 0);
        ReadEntry entry{std::string(name.data(), info.size_filename),
                        info.flag,
                        info.compression_method,
                        {},
                        false};
        if (unzOpenCurrentFile(archive) == UNZ_OK) {
            char buffer[65536];
            int read;
            while ((read = unzReadCurrentFile(archive, buffer, sizeof buffer)) > 0) {
                entry.data.append(buffer, static_cast<std::size_t>(read));
            }
            entry.crcOk = unzCloseCurrentFile(archive) == UNZ_OK && read == 0;
        }
        entries.push_back(std::move(entry));
    }
    unzClose(archive);
    return entries;
}

} // namespace kelzar::testing
