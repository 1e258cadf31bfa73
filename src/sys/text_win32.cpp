// Texts and times by the system's and the user's locale rules.
#include "sys/text.h"

#include "sys/win32_internal.h"

#include <windows.h>

#include <optional>

namespace kelzar::sys {

using namespace detail;

namespace {

FILETIME ToFileTime(std::uint64_t value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

CalendarTime ToLocalCalendar(const FILETIME& utc) {
    FILETIME local;
    SYSTEMTIME fields;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &fields)) {
        // Only times far outside the calendar fail to convert: those near
        // zero (before 1601 once the zone is added), those beyond the year
        // 30827, and times before 1601, which file systems hand over as
        // negative numbers (near 2^64). The ZIP date is clamped from them.
        DWORD high = utc.dwHighDateTime;
        bool future = high >= 0x40000000 && high < 0xC0000000;
        return future ? CalendarTime{30827, 12, 31, 23, 59, 59} : CalendarTime{1601, 1, 1};
    }
    return CalendarTime{fields.wYear, fields.wMonth,  fields.wDay,
                        fields.wHour, fields.wMinute, fields.wSecond};
}

} // namespace

CalendarTime LocalCalendarOf(std::uint64_t utcFileTime) {
    return ToLocalCalendar(ToFileTime(utcFileTime));
}

std::string UpperCase(const std::string& text) {
    std::wstring wide = Wide(text);
    int size = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                             static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr, 0);
    std::wstring upper(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size <= 0 || LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                   static_cast<int>(wide.size()), upper.data(), size, nullptr,
                                   nullptr, 0) != size) {
        return text;
    }
    return Narrow(upper);
}

std::string FormatFileTime(std::uint64_t utcFileTime) {
    FILETIME utc = ToFileTime(utcFileTime);
    FILETIME local;
    SYSTEMTIME fields;
    wchar_t date[64] = L"";
    wchar_t time[64] = L"";
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &fields)) {
        if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &fields, nullptr, date, 64)) {
            date[0] = L'\0';
        }
        if (!GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_NOSECONDS | TIME_FORCE24HOURFORMAT, &fields,
                            nullptr, time, 64)) {
            time[0] = L'\0';
        }
    }
    return Narrow(date) + "  " + Narrow(time);
}

std::optional<std::string> ToAnsiExactly(const std::string& name) {
    const UINT codePage = GetACP();
    std::wstring wide = Wide(name);
    if (codePage == CP_UTF8 || wide.empty()) {
        // A UTF-8 system code page holds everything, but ZIP readers take a
        // name without the UTF-8 flag for the old DOS code page: such names
        // are better flagged.
        return codePage == CP_UTF8 ? std::nullopt : std::optional<std::string>(std::string());
    }
    const int units = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0,
                                     nullptr, &usedDefault);
    if (length <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string ansi(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), units, ansi.data(), length,
                        nullptr, &usedDefault);
    // Reading it back must give the very same name.
    int back = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi.data(), length, nullptr, 0);
    std::wstring again(static_cast<std::size_t>(back > 0 ? back : 0), L'\0');
    if (back <= 0 || usedDefault ||
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ansi.data(), length, again.data(),
                            back) != back ||
        again != wide) {
        return std::nullopt;
    }
    return ansi;
}

} // namespace kelzar::sys
