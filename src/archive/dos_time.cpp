#include "archive/dos_time.h"

namespace kelzar {

std::uint32_t ToDosDateTime(const CalendarTime& time) {
    CalendarTime t = time;
    if (t.year < 1980) {
        t = CalendarTime{1980, 1, 1, 0, 0, 0};
    } else if (t.year > 2107) {
        t = CalendarTime{2107, 12, 31, 23, 59, 58};
    }
    auto date = static_cast<std::uint32_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
    auto clock = static_cast<std::uint32_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
    return (date << 16) | clock;
}

} // namespace kelzar
