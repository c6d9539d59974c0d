// The class library's date-time value (days since 30 December 1899, the time
// of day as the fraction), its encoding and "yymmdd" formatting, and the local
// clock.
#pragma once

#include <functional>
#include <string>

namespace platform {

using TDateTime = double;

// The date Year-Month-Day at midnight; an invalid date (month or day out of
// range, 29 February outside a leap year, a year outside 1..9999) raises
// EConvertError "Invalid argument to date encode".
TDateTime EncodeDate(int year, int month, int day);

// The calendar date of a value.
void DecodeDate(TDateTime value, int& year, int& month, int& day);

bool IsLeapYear(int year);

// The value's date as two-digit year, month and day: "yymmdd".
std::string FormatYYMMDD(TDateTime value);

// The current local date and time (tests may replace the clock).
TDateTime Now();

}  // namespace platform
