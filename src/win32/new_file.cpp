#include "win32/new_file.h"

#include "win32/system.h"
#include "win32/unique_handle.h"

#include <windows.h>

namespace kelzar::sys {

std::optional<std::string> WriteUniqueFile(const std::string& prefix, const std::string& suffix,
                                           std::string_view data) {
    auto created = CreateUniqueFile(prefix, suffix, kAttributeHidden);
    if (!created) {
        return std::nullopt;
    }
    auto& [name, handle] = *created; // held without sharing until complete
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
