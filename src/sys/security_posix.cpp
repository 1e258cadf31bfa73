// The access rules an archive being replaced passes on to the file that
// replaces it: none under POSIX.
#include "sys/files.h"

namespace kelzar::sys {

Status RandomAccessFile::TakeExplicitAccessOf(const std::string&) {
    return Status::Done(); // POSIX modes are not access rules of the Windows kind
}

} // namespace kelzar::sys
