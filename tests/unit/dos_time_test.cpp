// MS-DOS date and time of ZIP entries. Expected values are the date and time
// words that Python's zipfile writes into a local header for the same
// calendar time, date word in the high 16 bits.
#include "archive/dos_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

namespace kelzar {
namespace {

struct DosTimeCase {
    CalendarTime time;
    std::uint32_t expected;
    const char* why;
};

std::ostream& operator<<(std::ostream& os, const DosTimeCase& c) {
    const CalendarTime& t = c.time;
    return os << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":" << t.minute << ":"
              << t.second << " (" << c.why << ")";
}

class ToDosDateTimeTest : public ::testing::TestWithParam<DosTimeCase> {};

TEST_P(ToDosDateTimeTest, PacksLocalTimeAsZipStoresIt) {
    const DosTimeCase& c = GetParam();
    const std::uint32_t got = ToDosDateTime(c.time);
    EXPECT_EQ(got, c.expected) << std::hex << std::showbase << "got " << got << ", want "
                               << c.expected << ": the entry would carry a wrong date";
}

constexpr std::uint32_t kEarliest = 0x00210000; // 1980-01-01 00:00:00
constexpr std::uint32_t kLatest = 0xFF9FBF7D;   // 2107-12-31 23:59:58

INSTANTIATE_TEST_SUITE_P(
    OrdinaryDates, ToDosDateTimeTest,
    ::testing::Values(DosTimeCase{{2004, 6, 15, 13, 45, 30}, 0x30CF6DAF, "mid-year afternoon"},
                      DosTimeCase{{2024, 2, 29, 23, 59, 58}, 0x585DBF7D, "leap day"},
                      DosTimeCase{
                          {2038, 1, 19, 3, 14, 6}, 0x743319C3, "past the 32-bit time_t end"}));

INSTANTIATE_TEST_SUITE_P(
    OddSecondsRoundDown, ToDosDateTimeTest,
    ::testing::Values(DosTimeCase{{2024, 2, 29, 23, 59, 59}, 0x585DBF7D, "59 stored as 58"},
                      DosTimeCase{{1999, 12, 31, 12, 34, 57}, 0x279F645C, "57 stored as 56"},
                      DosTimeCase{{2000, 1, 1, 0, 0, 1}, 0x28210000, "1 stored as 0"},
                      DosTimeCase{{2038, 1, 19, 3, 14, 7}, 0x743319C3, "7 stored as 6"}));

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ToDosDateTimeTest,
    ::testing::Values(DosTimeCase{{1980, 1, 1, 0, 0, 0}, kEarliest, "earliest DOS time"},
                      DosTimeCase{{1980, 1, 1, 0, 0, 1}, kEarliest, "odd second at the start"},
                      DosTimeCase{{2107, 12, 31, 23, 59, 58}, kLatest, "latest DOS time"},
                      DosTimeCase{{2107, 12, 31, 23, 59, 59}, kLatest, "odd second at the end"}));

INSTANTIATE_TEST_SUITE_P(
    ClampedBefore1980, ToDosDateTimeTest,
    ::testing::Values(DosTimeCase{{1979, 12, 31, 23, 59, 59}, kEarliest, "last second of 1979"},
                      DosTimeCase{{1979, 6, 15, 12, 30, 30}, kEarliest, "mid 1979"},
                      DosTimeCase{{1970, 1, 1, 0, 0, 0}, kEarliest, "Unix epoch"},
                      DosTimeCase{{1601, 1, 1, 0, 0, 0}, kEarliest, "zero file time"}));

INSTANTIATE_TEST_SUITE_P(
    ClampedAfter2107, ToDosDateTimeTest,
    ::testing::Values(DosTimeCase{{2108, 1, 1, 0, 0, 0}, kLatest, "first second of 2108"},
                      DosTimeCase{{2200, 7, 4, 9, 15, 0}, kLatest, "far future"},
                      DosTimeCase{{30827, 12, 31, 23, 59, 59},
                                  kLatest,
                                  "largest calendar year Windows reports"}));

} // namespace
} // namespace kelzar
