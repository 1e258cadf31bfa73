/* kzattr ATTRIBUTES HEX_PATH...
 *
 * Sets the Win32 attributes of each path with SetFileAttributesA
 * (ATTRIBUTES: any of the letters R, H, S, A; "N" or empty for none) and
 * prints the attributes read back, one hexadecimal number per path.
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

int main(int argc, char** argv) {
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
