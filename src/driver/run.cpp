// The program's entry: reads the command line, runs one archive operation or
// shows the information dialog, and reports the outcome as the exit code alone.
#include "driver/run.h"

#include "archive/zip_files_flat.h"
#include "archive/zip_files_with_paths.h"
#include "driver/command_line.h"
#include "provision/provision.h"
#include "sys/process.h"
#include "ui/info_dialog.h"

namespace kelzar {

int RunProgram() {
    sys::PrepareProcess();
    ProvisionLibrary();
    Request request = ParseRequest(TakeArgumentText(sys::GetCommandLineText()));
    RunReport report;
    int result = 0;
    switch (request.action) {
    case Request::Action::ShowDialog:
        ShowInfoDialog("Kelzar");
        break;
    case Request::Action::Nothing:
        break;
    case Request::Action::ZipFlat:
        result = ZipFilesFlat(request.zipfilePath, request.filesToZip, report);
        break;
    case Request::Action::ZipWithPaths:
        result = ZipFilesWithPaths(request.zipfilePath, request.filesToZip, report);
        break;
    }
    // The causes, for whoever has to find out why a run exited 1; a user
    // sees nothing of them.
    for (const Failure& failure : report.Failures()) {
        sys::DebugLog(DescribeFailure(failure));
    }
    return result > 0 ? 0 : 1;
}

} // namespace kelzar
