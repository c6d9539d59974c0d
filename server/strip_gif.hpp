// The strip images: a three-panel strip per comic and day, and the smaller
// extra panel of Sundays, drawn from a seed so that the same comic and day
// always give the same GIF bytes.
#pragma once

#include <string>
#include <string_view>

#include "server/archive_day.hpp"
#include "server/canvas.hpp"

namespace server {

inline constexpr int strip_width = 640;
inline constexpr int strip_height = 228;
inline constexpr int extra_width = 220;
inline constexpr int extra_height = 200;

// `title` is drawn in the heading; `key` and the day choose the scenes.
canvas draw_strip(std::string_view title, std::string_view key, day d);
canvas draw_extra(std::string_view title, std::string_view key, day d);

// The picture as a GIF file (87a, one image, the strips' 32-colour palette).
std::string encode_gif(const canvas& picture);

inline std::string strip_gif(std::string_view title, std::string_view key, day d) {
  return encode_gif(draw_strip(title, key, d));
}
inline std::string extra_gif(std::string_view title, std::string_view key, day d) {
  return encode_gif(draw_extra(title, key, d));
}

}  // namespace server
