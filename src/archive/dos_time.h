// MS-DOS date and time as ZIP entries carry them.
#pragma once

#include "common/calendar_time.h"

#include <cstdint>

namespace kelzar {

// The MS-DOS date (high 16 bits) and time (low 16 bits) of a local time,
// seconds rounded down to even. Times outside what the format can hold are
// clamped to 1980-01-01 00:00:00 and 2107-12-31 23:59:58.
std::uint32_t ToDosDateTime(const CalendarTime& time);

} // namespace kelzar
