/* Arguments of the test helpers arrive hex-encoded (two lowercase or
 * uppercase hex digits per byte of UTF-8), so that no layer between the test
 * and the helper can re-quote, split or re-encode them. */
#pragma once

#include <stdlib.h>
#include <string.h>

static inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/* Decodes hex text into a new zero-terminated string; NULL when the text is
 * not valid hex or decodes to a zero byte. The caller frees the result. */
static inline char* DecodeHex(const char* hex) {
    size_t length = strlen(hex);
    if (length % 2 != 0) {
        return NULL;
    }
    char* text = (char*)malloc(length / 2 + 1);
    if (text == NULL) {
        return NULL;
    }
    for (size_t i = 0; i < length / 2; ++i) {
        int high = HexDigit(hex[2 * i]);
        int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            free(text);
            return NULL;
        }
        text[i] = (char)(high * 16 + low);
    }
    text[length / 2] = '\0';
    return text;
}

#ifdef _WIN32
#include <windows.h>

/* Decodes hex text of UTF-8 into a new zero-terminated wide string for the
 * wide API; NULL as DecodeHex, or when the bytes are not UTF-8. */
static inline wchar_t* DecodeHexWide(const char* hex) {
    char* text = DecodeHex(hex);
    if (text == NULL) {
        return NULL;
    }
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
    wchar_t* wide = length > 0 ? (wchar_t*)malloc(sizeof(wchar_t) * (size_t)length) : NULL;
    if (wide != NULL &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, length) != length) {
        free(wide);
        wide = NULL;
    }
    free(text);
    return wide;
}
#endif
