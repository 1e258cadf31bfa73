// Carries the entries of an existing archive into a new one, losslessly,
// streaming each entry so that none is ever held whole in memory. Talks only
// to minizip handles, whatever file layer they were opened with.
#pragma once

#include "archive/zip_writer.h"
#include "common/result.h"

#include <unzip.h>

#include <functional>

namespace kelzar {

// Writes every entry of `source`, in its order, to `writer`:
//  - deflated entries are copied raw, compressed bytes, CRC and sizes as
//    they are (reading the new archive back checks that they inflate);
//  - stored entries are deflated anew once their data has read back whole
//    with the right CRC;
//  - name (with its UTF-8 flag) and MS-DOS date are kept exactly.
// Fails when any entry cannot be carried over losslessly (another method,
// encryption, damaged data, data missing from the archive, a name minizip
// cannot write) or the writer fails; the new archive must then not be used.
// The failure names the entry; its path is left for the caller to fill.
// `carried` is called after each entry has been written; false from it
// stops the copy (the caller knows why).
using EntryCarried = std::function<bool()>;
Status CarryOverEntries(unzFile source, ZipWriter& writer, const EntryCarried& carried);

// How a run carries the entries of its old archive into the new one.
using CarryOver = std::function<Status(ZipWriter&, const EntryCarried&)>;

} // namespace kelzar
