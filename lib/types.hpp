// Unit _TYPES: the short string of the support library (a text of at most 255
// characters; appending beyond that cuts the result) and its helpers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qlib {

inline constexpr std::size_t short_max = 255;

// The text cut to at most `capacity` characters.
inline std::string short_str(std::string_view text, std::size_t capacity = short_max) {
  return std::string(text.substr(0, capacity));
}

// Appends `tail` to `text`, keeping at most 255 characters.
inline std::string& short_append(std::string& text, std::string_view tail) {
  if (text.size() < short_max) text.append(tail.substr(0, short_max - text.size()));
  return text;
}

void start_types_unit();
void stop_types_unit();

}  // namespace qlib
