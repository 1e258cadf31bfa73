#include "win32/new_file.h"

#include "win32/system.h"
#include "win32/unique_handle.h"

#include <windows.h>

namespace kelzar::sys {

namespace {

// Creates the file and keeps it open without sharing, so that no other
// program can open or delete it until it is complete.
std::optional<std::pair<std::string, UniqueFile>>
CreateHiddenUniqueFile(const std::string& prefix, const std::string& suffix) {
    static unsigned serial = 0;
    const DWORD seed = GetCurrentProcessId() ^ GetTickCount();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[32];
        wsprintfA(unique, "%08lx%02x", static_cast<unsigned long>(seed + attempt * 7919u),
                  serial++ & 0xff);
        std::string name = prefix + unique + suffix;
        UniqueFile handle(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (handle) {
            return std::make_pair(std::move(name), std::move(handle));
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> WriteUniqueFile(const std::string& prefix, const std::string& suffix,
                                           std::string_view data) {
    auto created = CreateHiddenUniqueFile(prefix, suffix);
    if (!created) {
        return std::nullopt;
    }
    auto& [name, handle] = *created;
    DWORD written = 0;
    bool complete =
        WriteFile(handle.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
        written == data.size() && FlushFileBuffers(handle.Get());
    // Closing can fail too (the last cached bytes are written then).
    complete = handle.Reset() && complete;
    if (!complete) {
        RemoveFile(name);
        return std::nullopt;
    }
    return std::move(name);
}

bool MoveToFreeName(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace kelzar::sys
