/* walker FOLDER THREADS
 *
 * What it costs the system alone to list a folder tree, open every file and
 * read it whole, on THREADS threads: the floor under any zipper running on
 * this system, which must do at least that. Prints the files and bytes read.
 * Built and run by the benchmark; no part of the program. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

static wchar_t** g_paths;
static LONG g_count;
static LONG g_capacity;
static volatile LONG g_next;
static volatile LONG64 g_bytes;

static void Add(const wchar_t* path) {
    if (g_count == g_capacity) {
        g_capacity = g_capacity ? g_capacity * 2 : 1024;
        g_paths = (wchar_t**)realloc(g_paths, sizeof(wchar_t*) * (size_t)g_capacity);
    }
    g_paths[g_count++] = _wcsdup(path);
}

static void List(const wchar_t* folder) {
    wchar_t pattern[32768];
    swprintf(pattern, 32768, L"%ls\\*", folder);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, NULL,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) {
            continue;
        }
        wchar_t path[32768];
        swprintf(path, 32768, L"%ls\\%ls", folder, data.cFileName);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            List(path);
        } else {
            Add(path);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

static DWORD WINAPI Read(void* unused) {
    (void)unused;
    static const DWORD kPiece = 1 << 20;
    unsigned char* buffer = (unsigned char*)malloc(kPiece);
    for (;;) {
        LONG i = InterlockedIncrement(&g_next) - 1;
        if (i >= g_count) {
            break;
        }
        HANDLE file = CreateFileW(g_paths[i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            continue;
        }
        DWORD read = 0;
        while (ReadFile(file, buffer, kPiece, &read, NULL) && read > 0) {
            InterlockedAdd64(&g_bytes, read);
        }
        CloseHandle(file);
    }
    free(buffer);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: walker FOLDER THREADS\n");
        return 1;
    }
    int threads = _wtoi(argv[2]);
    List(argv[1]);
    HANDLE handles[64];
    for (int t = 0; t < threads && t < 64; ++t) {
        handles[t] = CreateThread(NULL, 0, Read, NULL, 0, NULL);
    }
    WaitForMultipleObjects((DWORD)(threads < 64 ? threads : 64), handles, TRUE, INFINITE);
    printf("%ld files, %lld bytes\n", (long)g_count, (long long)g_bytes);
    return 0;
}
