// Folder listings through the wide-character directory search.
#include "sys/walk.h"

#include "sys/win32_internal.h"

#include <windows.h>

namespace kelzar::sys {

using namespace detail;

namespace {

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle h) { return FindClose(h) != 0; }
};
using UniqueFind = UniqueResource<FindHandleTraits>;

DirEntry ToEntry(const WIN32_FIND_DATAW& data) {
    return DirEntry{
        Narrow(data.cFileName), data.dwFileAttributes,
        Combine(data.nFileSizeHigh, data.nFileSizeLow),
        Combine(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

} // namespace

Listing ListEntries(const std::string& pattern) {
    const UserFilesScope userFiles;
    Listing listing;
    WIN32_FIND_DATAW data;
    // Basic information leaves out the 8.3 names nobody here reads; the large
    // fetch asks the file system for many entries per call.
    UniqueFind find(FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
            listing.failure = Failure{error, "list", pattern};
        }
        return listing;
    }
    do {
        listing.entries.push_back(ToEntry(data));
    } while (FindNextFileW(find.Get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        listing.failure = LastFailure("list to the end", pattern);
    }
    return listing;
}

} // namespace kelzar::sys
