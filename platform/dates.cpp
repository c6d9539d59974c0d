// Date encoding on the proleptic Gregorian calendar, and the local clock
// (each system reads its own clock).
#include "platform/dates.hpp"

#include <cmath>
#include <cstdio>

#include "platform/private/dates.hpp"
#include "platform/runtime.hpp"
#include "platform/test_hooks.hpp"

namespace platform {
namespace {

// Days from 0001-01-01 to the given date (the civil-from-days algorithm).
constexpr long days_from_civil(long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;  // days since 1970-01-01
}

// 1899-12-30 counted from 1970-01-01.
constexpr long epoch_offset = days_from_civil(1899, 12, 30);

std::function<TDateTime()>& replaced_clock() {
  static std::function<TDateTime()> clock;
  return clock;
}

int days_in_month(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > days_in_month(year, month)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return static_cast<TDateTime>(days_from_civil(year, static_cast<unsigned>(month),
                                                static_cast<unsigned>(day)) -
                                epoch_offset);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  // The inverse of days_from_civil.
  long z = static_cast<long>(std::floor(value)) + epoch_offset + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<long>(yoe) + era * 400 + (month <= 2));
}

std::string FormatYYMMDD(TDateTime value) {
  int year = 0, month = 0, day = 0;
  DecodeDate(value, year, month, day);
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", year % 100, month, day);
  return text;
}

TDateTime Now() {
  if (replaced_clock()) return replaced_clock()();
  const detail::local_time local = detail::read_local_clock();
  return EncodeDate(local.year, local.month, local.day) +
         (local.hour * 3600 + local.minute * 60 + local.second) / 86400.0;
}

void test_hooks::SetClock(std::function<TDateTime()> clock) { replaced_clock() = std::move(clock); }

}  // namespace platform
