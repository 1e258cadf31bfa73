// The entry point Windows calls for a GUI-subsystem program. Its parameters
// are not used: the command line is read in its wide form by the run itself.
#include "driver/run.h"

#include <windows.h>

#include <exception>
#include <new>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // A run that cannot go on (memory exhausted on a worker, say) would end
    // in abort(), whose message box waits for a click and stalls a scheduled
    // job. It ends with exit 1 instead, silently: the old archive has not
    // been replaced, the lock file goes with the process, and the next run
    // removes the hidden temporary.
    std::set_terminate([] { TerminateProcess(GetCurrentProcess(), 1); });
    try {
        return kelzar::RunProgram();
    } catch (const std::bad_alloc&) {
        return 1;
    }
}
