// The access rules an archive being replaced passes on to the file that
// replaces it.
#include "sys/files.h"

#include "sys/win32_internal.h"

#include <windows.h>

#include <aclapi.h>

namespace kelzar::sys {

using namespace detail;

namespace {

// Memory the system hands out with LocalAlloc (security descriptors).
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle h) { return LocalFree(h) == nullptr; }
};
using UniqueLocal = UniqueResource<LocalMemoryTraits>;

} // namespace

Status RandomAccessFile::TakeExplicitAccessOf(const std::string& path) {
    // Read through a handle: the security calls load a DLL of their own the
    // first time, which must not happen while the user's files are reached.
    auto source = OpenFile("read the access rules of", path, READ_CONTROL, kShareAll, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS);
    if (!source) {
        return Remember(source.Why());
    }
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(source->Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        return Remember(Failure{error, "read the access rules of", path});
    }
    const UniqueLocal owned(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const bool isProtected = (control & SE_DACL_PROTECTED) != 0;
    // Rules of the file's own: a list that inherits nothing, or an entry
    // that did not come from the folder. A file with only inherited rules
    // gets the same from the folder anyway.
    bool own = isProtected || (dacl == nullptr && (control & SE_DACL_PRESENT) != 0);
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount && !own; ++i) {
        ACE_HEADER* ace = nullptr;
        own =
            GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && (ace->AceFlags & INHERITED_ACE) == 0;
    }
    if (own) {
        // Entries marked inherited are recomputed from the new file's folder.
        SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION | (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
        error =
            SetSecurityInfo(handle_.Get(), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    }
    if (error != ERROR_SUCCESS) {
        return Remember(Failure{error, "copy the access rules of " + path + " to", path_});
    }
    return Status::Done();
}

} // namespace kelzar::sys
