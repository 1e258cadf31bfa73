// One run of the program, from its command line to its exit code.
#pragma once

namespace kelzar {

// Reads the command line, runs one archive operation or shows the
// information dialog, and returns the exit code: 0 when the operation stored
// its files and the archive is in place, 1 for anything else.
int RunProgram();

} // namespace kelzar
