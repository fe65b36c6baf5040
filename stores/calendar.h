#pragma once
// Dates of the proleptic Gregorian calendar as day counts from 1970-01-01, over std::chrono.
// std::chrono::year holds -32767..32767 only: callers check a stored date's range first, so
// that damaged fields never reach a value the calendar cannot hold.

#include <chrono>
#include <cstdint>

struct CivilDate {
    std::int64_t year = 1970;
    unsigned month = 1; // 1..12
    unsigned day = 1;   // 1..31
};

// The smallest and the largest day count CivilFromDays takes.
inline constexpr std::int64_t FirstCalendarDay = -12687428; // -32767-01-01
inline constexpr std::int64_t LastCalendarDay = 11248737;   // 32767-12-31

// Days from 1970-01-01 to `day` `month` `year` (month 1..12). A day past its month's end
// counts on into the next month: 31 February is 2 or 3 March.
constexpr std::int64_t DaysFromCivil(int year, unsigned month, unsigned day)
{
    const std::chrono::sys_days first{std::chrono::year(year) / std::chrono::month(month) / 1};
    return first.time_since_epoch().count() + std::int64_t(day) - 1;
}

// The date `days` after 1970-01-01 (before it when negative), for any count: the calendar
// repeats every 400 years (146,097 days), so a day beyond std::chrono's years is brought
// within them by whole cycles.
constexpr CivilDate CivilFromDays(std::int64_t days)
{
    constexpr std::int64_t Cycle = 146097;
    std::int64_t cycles = 0;
    if (days < FirstCalendarDay || days > LastCalendarDay) {
        cycles = days / Cycle;
        days -= cycles * Cycle;
    }
    const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
    return {std::int64_t(int(date.year())) + cycles * 400, unsigned(date.month()), unsigned(date.day())};
}
