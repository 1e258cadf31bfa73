// A moment as calendar fields, in whatever zone the producer says.
#pragma once

namespace kelzar {

struct CalendarTime {
    int year = 1980;
    int month = 1; // 1 to 12
    int day = 1;   // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

} // namespace kelzar
