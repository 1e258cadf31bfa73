// Reading the program's command line: the argument text, its normalisation
// from the space form into the comma form, and the request it makes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelzar {

// The process command line less the program name and the spaces after it.
// A quoted program name ends at the next quote; when there is none, the whole
// line is the program name and the argument text is empty.
std::string TakeArgumentText(std::string_view commandLine);

// Turns separating spaces into commas: the space before a final "0" or "1",
// and every space whose second following character is a drive colon. A text
// that already holds a comma is returned unchanged. The length never changes.
std::string NormaliseCommandLine(std::string_view text);

// Reads a number at the start of the text the way the flag argument is read:
// decimal with optional fraction and exponent (E, e, D or d), or "&" radix
// forms (&H hex, &O/&Q octal, &B binary, bare & octal). Stops at the first
// character that does not fit; text without a number reads as 0.
double ReadNumber(std::string_view text);

// True when the flag field, read as a number and rounded half to even,
// is not zero.
bool FlagAsksForPaths(std::string_view field);

struct Request {
    enum class Action { ShowDialog, Nothing, ZipFlat, ZipWithPaths };
    Action action = Action::ShowDialog;
    std::string zipfilePath;
    std::string filesToZip;
};

// Decides what a run does from its argument text.
Request ParseRequest(std::string_view argumentText);

} // namespace kelzar
