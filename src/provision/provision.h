// Keeps a copy of the compression library beside the program: the system
// looks for "ZLIB.DLL" in the program's own folder first when it starts it.
#pragma once

#include <string>

namespace kelzar {

// Writes the library image as "ZLib.dll" into the program's folder when no
// file of that name (in any letter case, with any attributes) is there. The
// file appears complete or not at all; an existing one is never touched.
// Reports nothing: the run goes on whatever happens.
void ProvisionLibrary();

// A copy of the library image: the bytes of the zlib.dll this program was
// built with.
std::string GetLibraryImage();

} // namespace kelzar
