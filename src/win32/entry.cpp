// The entry point Windows calls for a GUI-subsystem program. Its parameters
// are not used: the command line is read in its wide form by the run itself.
#include "driver/run.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return kelzar::RunProgram();
}
