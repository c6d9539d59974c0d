// Unit _CHARS: case changes and trimming.
#include "lib/chars.hpp"

#include "lib/system.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/chars.cpp $ $Revision: 1.7 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

std::string lower_ascii(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = lower_char(c);
  return result;
}

std::string upper_ascii(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = upper_char(c);
  return result;
}

std::string trim_left_blanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

std::string trim_right_blanks(std::string_view text) {
  const auto last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
}

std::string trim_blanks(std::string_view text) { return trim_left_blanks(trim_right_blanks(text)); }

std::string trim_controls(std::string_view text) {
  std::size_t first = 0;
  std::size_t end = text.size();
  while (first < end && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (end > first && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(first, end - first));
}

void start_chars_unit() { register_banner(revision); }
void stop_chars_unit() {}

}  // namespace qlib
