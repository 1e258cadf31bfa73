// Texts and times in the forms of the system and the user's locale.
#pragma once

#include "common/calendar_time.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kelzar::sys {

// A UTC file time as calendar fields in the local time of this run, clamped
// to the calendar where the system cannot convert it.
CalendarTime LocalCalendarOf(std::uint64_t utcFileTime);

// The text upper-cased as the file system compares names.
std::string UpperCase(const std::string& text);

// A UTC file time as local short date, two spaces, and 24-hour time without
// seconds, in the user's regional forms.
std::string FormatFileTime(std::uint64_t utcFileTime);

// The name in the system's ANSI code page, when that code page holds every
// one of its characters exactly (no look-alike, no default character).
std::optional<std::string> ToAnsiExactly(const std::string& name);

} // namespace kelzar::sys
