// UTF-8 inside the program, UTF-16 at the system's edge. File names on
// Windows are sequences of 16-bit units that need not be valid UTF-16 (a lone
// surrogate is a legal name), so the conversion keeps such units as
// three-byte sequences (WTF-8): every name the system gives converts back to
// exactly itself.
#pragma once

#include <string>
#include <string_view>

namespace kelzar {

std::string Utf16ToUtf8(std::u16string_view text);

// Bytes that are not UTF-8 (never produced by Utf16ToUtf8) become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// Strict UTF-8: no lone surrogates, no overlong forms, nothing above U+10FFFF.
// What a ZIP reader can take for a name flagged as UTF-8.
bool IsValidUtf8(std::string_view text);

} // namespace kelzar
