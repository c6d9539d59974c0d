// Unit _CHARS: character helpers. Case changes touch only the ASCII letters,
// as everywhere in the library.
#pragma once

#include <string>
#include <string_view>

namespace qlib {

inline char lower_char(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
inline char upper_char(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

std::string lower_ascii(std::string_view text);
std::string upper_ascii(std::string_view text);

// Removes blanks (only ' ') on both sides, or on one side.
std::string trim_blanks(std::string_view text);
std::string trim_left_blanks(std::string_view text);
std::string trim_right_blanks(std::string_view text);

// Removes blanks and control characters (code 32 and below) on both sides.
std::string trim_controls(std::string_view text);

void start_chars_unit();
void stop_chars_unit();

}  // namespace qlib
