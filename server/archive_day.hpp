// Days of the comics archive: the date texts the pages and names carry, and
// the reading of the dates given on the command line and in addresses.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace server {

using day = std::chrono::sys_days;

// "YYYYMMDD", as in day-page paths and image names.
std::string compact_date(day d);
// "YYYY-MM-DD", as --today takes it.
std::string iso_date(day d);
// "Mon. DD, YYYY" ("Mar. 05, 2024"): the calendar's date text.
std::string calendar_date(day d);
// "Tuesday, March 5, 2024": for people reading a day page.
std::string long_date(day d);
// "March 2024": the heading of a month in the calendar.
std::string month_heading(day d);

// Exactly 8 digits forming a valid date; nothing otherwise.
std::optional<day> parse_compact_date(std::string_view text);
// Exactly "YYYY-MM-DD" forming a valid date; nothing otherwise.
std::optional<day> parse_iso_date(std::string_view text);

bool is_sunday(day d);

// Today by the local clock.
day local_today();

}  // namespace server
