// Small text helpers shared by the command line, the walk and the archive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelzar {

// Every delimiter starts a new field, so empty fields count.
std::vector<std::string> SplitFields(std::string_view text, char delimiter);

// Removes spaces (code 32 only) at both ends.
std::string TrimSpaces(std::string_view text);

// The text with every "/" turned into "\".
std::string WithBackslashes(std::string_view text);

bool IsAscii(std::string_view text);

// 16 lowercase hex digits of the text's 64-bit FNV-1a hash: a short, stable
// name for a text (not a defence against anyone choosing texts to collide).
std::string HexDigest(std::string_view text);

} // namespace kelzar
