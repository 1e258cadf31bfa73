/* kzlaunch HEX_COMMAND_LINE HEX_WORKING_DIRECTORY|- TIMEOUT_MS [HEX_NAME=VALUE]...
 *
 * Starts a program with exactly the given command line (UTF-8, hex-encoded)
 * through CreateProcessW(NULL, line, ...), in the given working directory ("-" keeps
 * the launcher's own), waits for it and exits with its exit code. Each
 * NAME=VALUE is set in the environment the program inherits; NAME may begin
 * with "=", as the per-drive current folders do ("=D:=D:\src"). Wine builds
 * a command line from argv and re-quotes it, which would hide quotes, runs of
 * spaces and commas from the program under test; this launcher does not.
 *
 * The launcher's own failures use exit codes the program under test never
 * returns: 201 bad arguments, 202 the program could not be started, 203 it
 * was still running after TIMEOUT_MS and was terminated. */
#include "hex_arg.h"

#include <stdio.h>
#include <windows.h>

enum { kBadArguments = 201, kNotStarted = 202, kTimedOut = 203 };

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: kzlaunch HEX_COMMAND_LINE HEX_WORKING_DIRECTORY|- TIMEOUT_MS "
                        "[HEX_NAME=VALUE]...\n");
        return kBadArguments;
    }
    wchar_t* line = DecodeHexWide(argv[1]);
    wchar_t* folder = strcmp(argv[2], "-") == 0 ? NULL : DecodeHexWide(argv[2]);
    DWORD timeout = (DWORD)strtoul(argv[3], NULL, 10);
    if (line == NULL || (folder == NULL && strcmp(argv[2], "-") != 0) || timeout == 0) {
        fprintf(stderr, "kzlaunch: arguments are not valid\n");
        return kBadArguments;
    }

    for (int i = 4; i < argc; ++i) {
        wchar_t* assignment = DecodeHexWide(argv[i]);
        /* The name ends at the first "=" after its first character. */
        wchar_t* equals =
            assignment == NULL || assignment[0] == L'\0' ? NULL : wcschr(assignment + 1, L'=');
        if (equals == NULL) {
            fprintf(stderr, "kzlaunch: argument %d is not NAME=VALUE\n", i);
            return kBadArguments;
        }
        *equals = L'\0';
        if (!SetEnvironmentVariableW(assignment, equals + 1)) {
            fprintf(stderr, "kzlaunch: cannot set variable %d, error %lu\n", i, GetLastError());
            return kBadArguments;
        }
        free(assignment);
    }

    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, folder, &startup, &process)) {
        fprintf(stderr, "kzlaunch: CreateProcessW failed, error %lu\n", GetLastError());
        return kNotStarted;
    }
    CloseHandle(process.hThread);

    DWORD code = kTimedOut;
    if (WaitForSingleObject(process.hProcess, timeout) != WAIT_OBJECT_0) {
        fprintf(stderr, "kzlaunch: still running after %lu ms, terminated\n", timeout);
        TerminateProcess(process.hProcess, kTimedOut);
        WaitForSingleObject(process.hProcess, 5000);
    } else if (!GetExitCodeProcess(process.hProcess, &code)) {
        fprintf(stderr, "kzlaunch: GetExitCodeProcess failed, error %lu\n", GetLastError());
        code = kNotStarted;
    }
    CloseHandle(process.hProcess);
    free(line);
    free(folder);
    return (int)code;
}
