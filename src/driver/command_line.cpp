#include "driver/command_line.h"

#include "common/text.h"

#include <cmath>
#include <cstdlib>

namespace kelzar {

namespace {

bool IsDigitOfRadix(char c, int radix) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value >= 0 && value < radix;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return (c | 0x20) - 'a' + 10;
}

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

double ReadRadixNumber(std::string_view text) {
    // text starts after the "&".
    int radix = 8;
    size_t pos = 0;
    if (!text.empty()) {
        switch (text[0]) {
        case 'H':
        case 'h':
            radix = 16;
            pos = 1;
            break;
        case 'O':
        case 'o':
        case 'Q':
        case 'q':
            radix = 8;
            pos = 1;
            break;
        case 'B':
        case 'b':
            radix = 2;
            pos = 1;
            break;
        default:
            break;
        }
    }
    double value = 0;
    for (; pos < text.size() && IsDigitOfRadix(text[pos], radix); ++pos) {
        value = value * radix + DigitValue(text[pos]);
    }
    return value;
}

// Copies the longest prefix that fits the decimal form into a canonical
// C-locale number text for strtod, with "D" exponents written as "e".
std::string CanonicalDecimalPrefix(std::string_view text) {
    std::string number;
    size_t pos = 0;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        number += text[pos++];
    }
    bool digits = false;
    for (; pos < text.size() && IsDecimalDigit(text[pos]); ++pos) {
        number += text[pos];
        digits = true;
    }
    if (pos < text.size() && text[pos] == '.') {
        number += text[pos++];
        for (; pos < text.size() && IsDecimalDigit(text[pos]); ++pos) {
            number += text[pos];
            digits = true;
        }
    }
    if (!digits) {
        return {};
    }
    if (pos < text.size() &&
        (text[pos] == 'E' || text[pos] == 'e' || text[pos] == 'D' || text[pos] == 'd')) {
        size_t exp = pos + 1;
        std::string exponent = "e";
        if (exp < text.size() && (text[exp] == '+' || text[exp] == '-')) {
            exponent += text[exp++];
        }
        bool expDigits = false;
        for (; exp < text.size() && IsDecimalDigit(text[exp]); ++exp) {
            exponent += text[exp];
            expDigits = true;
        }
        if (expDigits) {
            number += exponent;
        }
    }
    return number;
}

} // namespace

std::string TakeArgumentText(std::string_view commandLine) {
    size_t pos = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        size_t closing = commandLine.find('"', 1);
        pos = closing == std::string_view::npos ? commandLine.size() : closing + 1;
    } else {
        while (pos < commandLine.size() && static_cast<unsigned char>(commandLine[pos]) > 32) {
            ++pos;
        }
    }
    while (pos < commandLine.size() && commandLine[pos] == ' ') {
        ++pos;
    }
    return std::string(commandLine.substr(pos));
}

std::string NormaliseCommandLine(std::string_view text) {
    std::string result(text);
    if (result.find(',') != std::string::npos) {
        return result;
    }
    const size_t length = result.size();
    if (length >= 2 && (result[length - 1] == '1' || result[length - 1] == '0') &&
        result[length - 2] == ' ') {
        result[length - 2] = ',';
    }
    for (size_t i = 0; i < length; ++i) {
        if (result[i] != ' ') {
            continue;
        }
        if (i + 2 >= length) {
            break; // fewer than two characters follow: no later space qualifies
        }
        if (result[i + 2] == ':') {
            result[i] = ',';
        }
    }
    return result;
}

double ReadNumber(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n')) {
        ++pos;
    }
    text.remove_prefix(pos);
    if (!text.empty() && text[0] == '&') {
        return ReadRadixNumber(text.substr(1));
    }
    std::string number = CanonicalDecimalPrefix(text);
    if (number.empty()) {
        return 0;
    }
    return std::strtod(number.c_str(), nullptr);
}

bool FlagAsksForPaths(std::string_view field) {
    // nearbyint rounds in the default mode, to nearest with halves to even.
    return std::nearbyint(ReadNumber(field)) != 0.0;
}

Request ParseRequest(std::string_view argumentText) {
    Request request;
    if (argumentText.empty()) {
        return request;
    }
    std::vector<std::string> fields = SplitFields(NormaliseCommandLine(argumentText), ',');
    if (fields.size() < 2 || fields.size() > 3) {
        return request;
    }
    request.zipfilePath = TrimSpaces(fields[0]);
    request.filesToZip = TrimSpaces(fields[1]);
    if (request.zipfilePath.empty() || request.filesToZip.empty()) {
        request.action = Request::Action::Nothing;
        return request;
    }
    bool withPaths = fields.size() == 3 && FlagAsksForPaths(TrimSpaces(fields[2]));
    request.action = withPaths ? Request::Action::ZipWithPaths : Request::Action::ZipFlat;
    return request;
}

} // namespace kelzar
