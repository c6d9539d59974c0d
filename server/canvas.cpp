// Drawing on the indexed-colour surface, and the 5x7 bitmap font.
#include "server/canvas.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace server {
namespace {

struct glyph {
  char c;
  std::array<const char*, 7> rows;
};

// Capitals, digits and the punctuation that titles and dates use.
constexpr glyph font[] = {
    {' ', {"     ", "     ", "     ", "     ", "     ", "     ", "     "}},
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {'G', {" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'I', {" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'J', {"  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "#   #", "##  #", "# # #", "#  ##", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'Q', {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "# # #", " # # "}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'Z', {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"}},
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {'&', {" ##  ", "#  # ", "# #  ", " #   ", "# # #", "#  # ", " ## #"}},
    {'\'', {"  #  ", "  #  ", " #   ", "     ", "     ", "     ", "     "}},
    {'"', {" # # ", " # # ", "     ", "     ", "     ", "     ", "     "}},
    {'!', {"  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "     ", "  #  "}},
    {'?', {" ### ", "#   #", "    #", "   # ", "  #  ", "     ", "  #  "}},
    {'.', {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "}},
    {',', {"     ", "     ", "     ", "     ", " ##  ", "  #  ", " #   "}},
    {'-', {"     ", "     ", "     ", "#####", "     ", "     ", "     "}},
    {':', {"     ", " ##  ", " ##  ", "     ", " ##  ", " ##  ", "     "}},
    {'/', {"     ", "    #", "   # ", "  #  ", " #   ", "#    ", "     "}},
    {'(', {"   # ", "  #  ", " #   ", " #   ", " #   ", "  #  ", "   # "}},
    {')', {" #   ", "  #  ", "   # ", "   # ", "   # ", "  #  ", " #   "}},
};

constexpr glyph missing_glyph = {
    '\0', {"#####", "#   #", "#   #", "#   #", "#   #", "#   #", "#####"}};

const glyph& glyph_for(char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (const glyph& g : font)
    if (g.c == c) return g;
  return missing_glyph;
}

constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

}  // namespace

canvas::canvas(int width, int height, std::uint8_t background)
    : width_(width),
      height_(height),
      clip_right_(width),
      clip_bottom_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), background) {}

std::uint8_t canvas::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                 static_cast<std::size_t>(x)];
}

void canvas::set_clip(int left, int top, int right, int bottom) {
  clip_left_ = std::max(0, left);
  clip_top_ = std::max(0, top);
  clip_right_ = std::min(width_, right);
  clip_bottom_ = std::min(height_, bottom);
}

void canvas::clear_clip() { set_clip(0, 0, width_, height_); }

bool canvas::visible(int x, int y) const {
  return x >= clip_left_ && y >= clip_top_ && x < clip_right_ && y < clip_bottom_;
}

void canvas::point(int x, int y, std::uint8_t colour) {
  if (!visible(x, y)) return;
  pixels_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
          static_cast<std::size_t>(x)] = colour;
}

void canvas::fill_rect(int left, int top, int width, int height, std::uint8_t colour) {
  for (int y = top; y < top + height; ++y)
    for (int x = left; x < left + width; ++x) point(x, y, colour);
}

void canvas::frame_rect(int left, int top, int width, int height, int thickness,
                        std::uint8_t colour) {
  fill_rect(left, top, width, thickness, colour);
  fill_rect(left, top + height - thickness, width, thickness, colour);
  fill_rect(left, top, thickness, height, colour);
  fill_rect(left + width - thickness, top, thickness, height, colour);
}

void canvas::dither_rect(int left, int top, int width, int height, std::uint8_t first,
                         std::uint8_t second, int level) {
  for (int y = top; y < top + height; ++y)
    for (int x = left; x < left + width; ++x)
      point(x, y, bayer[y & 3][x & 3] < level ? second : first);
}

void canvas::fill_ellipse(int cx, int cy, int rx, int ry, std::uint8_t colour) {
  if (rx <= 0 || ry <= 0) return;
  const long long rx2 = 1LL * rx * rx;
  const long long ry2 = 1LL * ry * ry;
  for (int dy = -ry; dy <= ry; ++dy)
    for (int dx = -rx; dx <= rx; ++dx)
      if (dx * dx * ry2 + dy * dy * rx2 <= rx2 * ry2) point(cx + dx, cy + dy, colour);
}

void canvas::frame_ellipse(int cx, int cy, int rx, int ry, int thickness, std::uint8_t colour) {
  if (rx <= 0 || ry <= 0) return;
  const long long rx2 = 1LL * rx * rx;
  const long long ry2 = 1LL * ry * ry;
  const long long ix = std::max(1, rx - thickness);
  const long long iy = std::max(1, ry - thickness);
  for (int dy = -ry; dy <= ry; ++dy)
    for (int dx = -rx; dx <= rx; ++dx) {
      const bool inside_outer = dx * dx * ry2 + dy * dy * rx2 <= rx2 * ry2;
      const bool inside_inner = dx * dx * iy * iy + dy * dy * ix * ix <= ix * ix * iy * iy;
      if (inside_outer && !inside_inner) point(cx + dx, cy + dy, colour);
    }
}

void canvas::line(int x0, int y0, int x1, int y1, int thickness, std::uint8_t colour) {
  const int dx = std::abs(x1 - x0);
  const int dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  const int half = thickness / 2;
  int error = dx + dy;
  for (;;) {
    fill_rect(x0 - half, y0 - half, thickness, thickness, colour);
    if (x0 == x1 && y0 == y1) return;
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x0 += sx;
    }
    if (twice <= dx) {
      error += dx;
      y0 += sy;
    }
  }
}

void canvas::fill_triangle(int x0, int y0, int x1, int y1, int x2, int y2, std::uint8_t colour) {
  const int top = std::min({y0, y1, y2});
  const int bottom = std::max({y0, y1, y2});
  const int left = std::min({x0, x1, x2});
  const int right = std::max({x0, x1, x2});
  // A point is inside when it lies on the same side of all three edges.
  const auto side = [](int ax, int ay, int bx, int by, int px, int py) {
    return 1LL * (bx - ax) * (py - ay) - 1LL * (by - ay) * (px - ax);
  };
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) {
      const long long a = side(x0, y0, x1, y1, x, y);
      const long long b = side(x1, y1, x2, y2, x, y);
      const long long c = side(x2, y2, x0, y0, x, y);
      if ((a >= 0 && b >= 0 && c >= 0) || (a <= 0 && b <= 0 && c <= 0)) point(x, y, colour);
    }
}

void canvas::text(int left, int top, std::string_view text, int scale, std::uint8_t colour) {
  int x = left;
  for (char c : text) {
    const glyph& g = glyph_for(c);
    for (int row = 0; row < 7; ++row)
      for (int column = 0; column < 5; ++column)
        if (g.rows[static_cast<std::size_t>(row)][column] == '#')
          fill_rect(x + column * scale, top + row * scale, scale, scale, colour);
    x += 6 * scale;
  }
}

int canvas::text_width(std::string_view text, int scale) {
  if (text.empty()) return 0;
  return static_cast<int>(text.size()) * 6 * scale - scale;
}

}  // namespace server
