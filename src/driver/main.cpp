// The program's entry: reads the command line, runs one archive operation or
// shows the information dialog, and reports the outcome as the exit code alone.
#include "archive/zip_files_flat.h"
#include "archive/zip_files_with_paths.h"
#include "driver/command_line.h"
#include "provision/provision.h"
#include "win32/info_dialog.h"
#include "win32/system.h"

#include <windows.h>

namespace kelzar {

namespace {

int Run() {
    ProvisionLibrary();
    Request request = ParseRequest(TakeArgumentText(sys::GetCommandLineText()));
    int result = 0;
    switch (request.action) {
    case Request::Action::ShowDialog:
        ShowInfoDialog(nullptr, "Kelzar");
        break;
    case Request::Action::Nothing:
        break;
    case Request::Action::ZipFlat:
        result = ZipFilesFlat(request.zipfilePath, request.filesToZip);
        break;
    case Request::Action::ZipWithPaths:
        result = ZipFilesWithPaths(request.zipfilePath, request.filesToZip);
        break;
    }
    return result > 0 ? 0 : 1;
}

} // namespace

} // namespace kelzar

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return kelzar::Run();
}
