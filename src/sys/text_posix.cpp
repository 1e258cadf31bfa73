// Texts and times: the local time zone, ASCII upper case, and ISO 8859-1 as
// the stand-in for the ANSI code page.
#include "sys/text.h"

#include "common/utf.h"

#include <algorithm>
#include <ctime>

namespace kelzar::sys {

namespace {

CalendarTime LocalCalendar(time_t seconds) {
    struct tm fields {};
    localtime_r(&seconds, &fields);
    return CalendarTime{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                        fields.tm_hour,        fields.tm_min,     fields.tm_sec};
}

} // namespace

CalendarTime LocalCalendarOf(std::uint64_t utcFileTime) {
    return LocalCalendar(static_cast<time_t>(utcFileTime / 10000000ull) - 11644473600);
}

std::string UpperCase(const std::string& text) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return upper;
}

std::string FormatFileTime(std::uint64_t utcFileTime) {
    auto seconds = static_cast<time_t>(utcFileTime / 10000000ull) - 11644473600;
    struct tm fields {};
    localtime_r(&seconds, &fields);
    char text[64];
    std::strftime(text, sizeof text, "%d/%m/%Y  %H:%M", &fields);
    return text;
}

std::optional<std::string> ToAnsiExactly(const std::string& name) {
    std::string latin1;
    for (char16_t unit : Utf8ToUtf16(name)) {
        if (unit >= 0x100 || (unit >= 0x80 && unit < 0xA0)) {
            return std::nullopt;
        }
        latin1.push_back(static_cast<char>(unit));
    }
    return latin1;
}

} // namespace kelzar::sys
