/* kzhold MODE HEX_FILE HEX_READY_MARKER HEX_RELEASE_MARKER TIMEOUT_MS
 *
 * Holds a file open the way another program would, so that tests can see
 * what the program under test does with files in use:
 *   exclusive         read access, share mode 0: every other open fails
 *   range             read and write access, shared, the whole file locked
 *                     exclusively by LockFileEx: opens succeed, reads fail
 *   write-sharing-rw  write access, sharing reading and writing
 *   write-sharing-r   write access, sharing reading only (a log file as most
 *                     programs keep it: only readers that share writing and
 *                     ask for no write access can open it)
 * Once the file is held, the READY marker is created; the holder then waits
 * until the RELEASE marker exists, or TIMEOUT_MS passed, closes the file and
 * exits. Exit codes: 0 released, 1 bad arguments, 2 the file could not be
 * opened or locked, 3 timed out.
 *
 * kzhold probe-read HEX_FILE
 *
 * Opens the file as a reader that shares reading and writing and reads one
 * byte: exit 0 when that worked, 4 when the open or the read failed (so a
 * test can learn whether the system enforces another process's range lock
 * against reads). */
#include "hex_arg.h"

#include <stdio.h>
#include <windows.h>

static int Fail(int code, const char* what) {
    fprintf(stderr, "kzhold: %s, error %lu\n", what, GetLastError());
    return code;
}

static int ProbeRead(const char* hexPath) {
    wchar_t* path = DecodeHexWide(hexPath);
    if (path == NULL) {
        fprintf(stderr, "kzhold: argument is not valid\n");
        return 1;
    }
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    free(path);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail(4, "cannot open the file");
    }
    char byte;
    DWORD read = 0;
    BOOL ok = ReadFile(file, &byte, 1, &read, NULL);
    int code = ok && read == 1 ? 0 : Fail(4, "cannot read the file");
    CloseHandle(file);
    return code;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "probe-read") == 0) {
        return ProbeRead(argv[2]);
    }
    if (argc != 6) {
        fprintf(stderr, "usage: kzhold MODE HEX_FILE HEX_READY HEX_RELEASE TIMEOUT_MS\n");
        return 1;
    }
    const char* mode = argv[1];
    wchar_t* path = DecodeHexWide(argv[2]);
    wchar_t* ready = DecodeHexWide(argv[3]);
    wchar_t* release = DecodeHexWide(argv[4]);
    DWORD timeout = (DWORD)strtoul(argv[5], NULL, 10);
    if (path == NULL || ready == NULL || release == NULL || timeout == 0) {
        fprintf(stderr, "kzhold: arguments are not valid\n");
        return 1;
    }

    DWORD access;
    DWORD share;
    if (strcmp(mode, "exclusive") == 0) {
        access = GENERIC_READ;
        share = 0;
    } else if (strcmp(mode, "range") == 0) {
        access = GENERIC_READ | GENERIC_WRITE;
        share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    } else if (strcmp(mode, "write-sharing-rw") == 0) {
        access = GENERIC_WRITE;
        share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    } else if (strcmp(mode, "write-sharing-r") == 0) {
        access = GENERIC_WRITE;
        share = FILE_SHARE_READ;
    } else if (strcmp(mode, "share-all") == 0) {
        /* As viewers, indexers and scanners open files: reading, and letting
         * others read, write, rename and delete. */
        access = GENERIC_READ;
        share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    } else {
        fprintf(stderr, "kzhold: unknown mode %s\n", mode);
        return 1;
    }

    HANDLE file =
        CreateFileW(path, access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail(2, "cannot open the file");
    }
    if (strcmp(mode, "range") == 0) {
        OVERLAPPED at;
        ZeroMemory(&at, sizeof at);
        /* The first 4 GiB less one byte: every byte of the files the tests use. */
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, 0,
                        &at)) {
            return Fail(2, "cannot lock the file");
        }
    }

    HANDLE marker =
        CreateFileW(ready, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker == INVALID_HANDLE_VALUE) {
        return Fail(2, "cannot create the ready marker");
    }
    CloseHandle(marker);

    int code = 3;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout) {
        if (GetFileAttributesW(release) != INVALID_FILE_ATTRIBUTES) {
            code = 0;
            break;
        }
        Sleep(20);
    }
    if (code != 0) {
        fprintf(stderr, "kzhold: not released within %lu ms\n", timeout);
    }
    CloseHandle(file);
    free(path);
    free(ready);
    free(release);
    return code;
}
