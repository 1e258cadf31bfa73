// Carries the entries of an existing archive into a new one, losslessly,
// streaming each entry so that none is ever held whole in memory. Talks only
// to minizip handles, whatever file layer they were opened with.
#pragma once

#include "archive/zip_writer.h"

#include <unzip.h>

namespace kelzar {

// Writes every entry of `source`, in its order, to `writer`:
//  - deflated entries are copied raw, compressed bytes, CRC and sizes as
//    they are;
//  - stored entries whose data reads back whole with the right CRC are
//    deflated anew; others are copied raw, damage included;
//  - name (with its UTF-8 flag) and MS-DOS date are kept exactly.
// Returns false when any entry cannot be carried over losslessly (another
// method, encryption, data missing from the archive, a name minizip cannot
// write) or the writer fails; the new archive must then not be used.
bool CarryOverEntries(unzFile source, ZipWriter& writer);

} // namespace kelzar
