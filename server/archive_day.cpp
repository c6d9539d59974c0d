// Date texts and date reading for the comics archive.
#include "server/archive_day.hpp"

#include <array>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace server {
namespace {

constexpr std::array<const char*, 12> month_names = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> weekday_names = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

struct parts {
  int year;
  unsigned month;
  unsigned day;
};

parts split(day d) {
  const std::chrono::year_month_day date{d};
  return {static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
          static_cast<unsigned>(date.day())};
}

std::optional<int> digits(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<day> make_day(std::optional<int> year, std::optional<int> month,
                            std::optional<int> day_of_month) {
  if (!year || !month || !day_of_month) return std::nullopt;
  if (*year < 1) return std::nullopt;  // four-digit years only
  const std::chrono::year_month_day date{std::chrono::year{*year},
                                         std::chrono::month{static_cast<unsigned>(*month)},
                                         std::chrono::day{static_cast<unsigned>(*day_of_month)}};
  if (!date.ok()) return std::nullopt;
  return day{date};
}

}  // namespace

std::string compact_date(day d) {
  const parts p = split(d);
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", p.year, p.month, p.day);
  return text;
}

std::string iso_date(day d) {
  const parts p = split(d);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", p.year, p.month, p.day);
  return text;
}

std::string calendar_date(day d) {
  const parts p = split(d);
  char text[32];
  std::snprintf(text, sizeof text, "%.3s. %02u, %04d", month_names[p.month - 1], p.day, p.year);
  return text;
}

std::string long_date(day d) {
  const parts p = split(d);
  const std::chrono::weekday weekday{d};
  return std::string(weekday_names[weekday.c_encoding()]) + ", " + month_names[p.month - 1] +
         " " + std::to_string(p.day) + ", " + std::to_string(p.year);
}

std::string month_heading(day d) {
  const parts p = split(d);
  return std::string(month_names[p.month - 1]) + " " + std::to_string(p.year);
}

std::optional<day> parse_compact_date(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  return make_day(digits(text.substr(0, 4)), digits(text.substr(4, 2)), digits(text.substr(6, 2)));
}

std::optional<day> parse_iso_date(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  return make_day(digits(text.substr(0, 4)), digits(text.substr(5, 2)), digits(text.substr(8, 2)));
}

bool is_sunday(day d) { return std::chrono::weekday{d} == std::chrono::Sunday; }

day local_today() {
  // std::localtime shares one result buffer; the connection threads take turns.
  static std::mutex clock_mutex;
  const std::time_t now = std::time(nullptr);
  std::lock_guard<std::mutex> lock(clock_mutex);
  const std::tm* local = std::localtime(&now);
  return *make_day(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday);
}

}  // namespace server
