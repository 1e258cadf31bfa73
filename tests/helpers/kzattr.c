/* kzattr ATTRIBUTES HEX_PATH...
 * kzattr short HEX_PATH
 *
 * Sets the Win32 attributes of each path with SetFileAttributesW
 * (ATTRIBUTES: any of the letters R, H, S, A; "N" or empty for none) and
 * prints the attributes read back, one hexadecimal number per path. With
 * "short", prints the path's 8.3 form (GetShortPathNameW), hex-encoded UTF-8.
 * Exit codes: 0 all set, 1 bad arguments, 2 a path failed. */
#include "hex_arg.h"

#include <stdio.h>
#include <windows.h>

static int ParseAttributes(const char* text, DWORD* attributes) {
    *attributes = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        switch (*c) {
        case 'R':
            *attributes |= FILE_ATTRIBUTE_READONLY;
            break;
        case 'H':
            *attributes |= FILE_ATTRIBUTE_HIDDEN;
            break;
        case 'S':
            *attributes |= FILE_ATTRIBUTE_SYSTEM;
            break;
        case 'A':
            *attributes |= FILE_ATTRIBUTE_ARCHIVE;
            break;
        case 'N':
            break;
        default:
            return 0;
        }
    }
    if (*attributes == 0) {
        *attributes = FILE_ATTRIBUTE_NORMAL;
    }
    return 1;
}

static int PrintShortPath(const char* hexPath) {
    wchar_t* path = DecodeHexWide(hexPath);
    wchar_t shortPath[32768];
    char utf8[4 * 32768];
    if (path == NULL || GetShortPathNameW(path, shortPath, 32768) == 0 ||
        WideCharToMultiByte(CP_UTF8, 0, shortPath, -1, utf8, sizeof utf8, NULL, NULL) == 0) {
        fprintf(stderr, "kzattr: no short path, error %lu\n", GetLastError());
        return 2;
    }
    for (const unsigned char* c = (const unsigned char*)utf8; *c != '\0'; ++c) {
        printf("%02x", *c);
    }
    printf("\n");
    free(path);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "short") == 0) {
        return PrintShortPath(argv[2]);
    }

    DWORD attributes;
    if (argc < 3 || !ParseAttributes(argv[1], &attributes)) {
        fprintf(stderr, "usage: kzattr [RHSAN]... HEX_PATH...\n");
        return 1;
    }
    int code = 0;
    for (int i = 2; i < argc; ++i) {
        wchar_t* path = DecodeHexWide(argv[i]);
        if (path == NULL) {
            fprintf(stderr, "kzattr: argument %d is not valid\n", i);
            return 1;
        }
        if (!SetFileAttributesW(path, attributes)) {
            fprintf(stderr, "kzattr: SetFileAttributesW(argument %d) failed, error %lu\n", i,
                    GetLastError());
            code = 2;
        }
        printf("%lx\n", GetFileAttributesW(path));
        free(path);
    }
    return code;
}
