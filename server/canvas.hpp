// An indexed-colour drawing surface for the strip images: filled shapes,
// thick lines, dithered fills and text in a small built-in bitmap font.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace server {

class canvas {
 public:
  canvas(int width, int height, std::uint8_t background);

  int width() const { return width_; }
  int height() const { return height_; }
  // Row-major colour indexes, width() * height() of them.
  const std::vector<std::uint8_t>& pixels() const { return pixels_; }
  std::uint8_t at(int x, int y) const;

  // Every shape is clipped to the surface and, when set, to the clip box.
  void set_clip(int left, int top, int right, int bottom);  // right and bottom excluded
  void clear_clip();

  void point(int x, int y, std::uint8_t colour);
  void fill_rect(int left, int top, int width, int height, std::uint8_t colour);
  void frame_rect(int left, int top, int width, int height, int thickness, std::uint8_t colour);
  // Ordered (Bayer 4x4) mix of two colours; level 0 is all `first`, 16 all `second`.
  void dither_rect(int left, int top, int width, int height, std::uint8_t first,
                   std::uint8_t second, int level);
  void fill_ellipse(int cx, int cy, int rx, int ry, std::uint8_t colour);
  // An ellipse outline `thickness` pixels wide, drawn inside the radii.
  void frame_ellipse(int cx, int cy, int rx, int ry, int thickness, std::uint8_t colour);
  void line(int x0, int y0, int x1, int y1, int thickness, std::uint8_t colour);
  void fill_triangle(int x0, int y0, int x1, int y1, int x2, int y2, std::uint8_t colour);

  // Text in the 5x7 font, each font pixel drawn as a scale x scale square,
  // one blank column between letters. Lower-case letters are drawn as capitals;
  // a character the font lacks is drawn as a small box.
  void text(int left, int top, std::string_view text, int scale, std::uint8_t colour);
  static int text_width(std::string_view text, int scale);
  static int text_height(int scale) { return 7 * scale; }

 private:
  bool visible(int x, int y) const;

  int width_;
  int height_;
  int clip_left_ = 0;
  int clip_top_ = 0;
  int clip_right_;
  int clip_bottom_;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace server
