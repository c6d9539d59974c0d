// The drawing surface: shapes stay inside the surface and the clip box, and
// the font draws what it is given.
#include "server/canvas.hpp"

#include <gtest/gtest.h>

namespace {

int count(const server::canvas& picture, std::uint8_t colour) {
  int n = 0;
  for (auto pixel : picture.pixels()) n += pixel == colour;
  return n;
}

TEST(Canvas, ShapesBeyondTheEdgesAreCutNotWrappedToTheNextRow) {
  server::canvas picture(20, 10, 0);
  picture.fill_rect(15, 2, 10, 3, 1);  // over the right edge
  EXPECT_EQ(count(picture, 1), 15);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(picture.at(x, 3), 0) << x;
  // Shapes reaching far beyond every edge write nothing outside (the sanitizer build watches).
  picture.line(-5, -5, 30, 30, 3, 2);
  picture.fill_ellipse(0, 0, 6, 6, 3);
  picture.frame_ellipse(19, 9, 8, 8, 2, 3);
  picture.text(17, 8, "WW", 2, 4);
  picture.fill_triangle(-10, 5, 40, -3, 40, 20, 5);
  picture.dither_rect(-4, -4, 40, 40, 6, 7, 8);
  EXPECT_EQ(picture.pixels().size(), 200u);
  EXPECT_EQ(count(picture, 6) + count(picture, 7), 200);
}

TEST(Canvas, TheClipBoxHoldsEveryShape) {
  server::canvas picture(30, 30, 0);
  picture.set_clip(10, 10, 20, 20);
  picture.fill_rect(0, 0, 30, 30, 1);
  picture.fill_ellipse(15, 15, 20, 20, 2);
  picture.text(0, 12, "HELLO", 1, 3);
  EXPECT_EQ(count(picture, 0), 30 * 30 - 100);
  picture.clear_clip();
  picture.point(0, 0, 4);
  EXPECT_EQ(picture.at(0, 0), 4);
}

TEST(Canvas, TextDrawsGlyphsLowerCaseAsCapitalsAndUnknownAsABox) {
  server::canvas upper(40, 10, 0);
  server::canvas lower(40, 10, 0);
  upper.text(0, 0, "AB", 1, 1);
  lower.text(0, 0, "ab", 1, 1);
  EXPECT_EQ(upper.pixels(), lower.pixels());
  EXPECT_GT(count(upper, 1), 10);

  server::canvas box(10, 10, 0);
  box.text(0, 0, "~", 1, 1);
  EXPECT_EQ(count(box, 1), 5 + 5 + 2 * 5);  // a 5x7 frame
  EXPECT_EQ(server::canvas::text_width("AB", 2), 22);
  EXPECT_EQ(server::canvas::text_width("", 2), 0);
}

TEST(Canvas, DitherLevelsMixTheColoursInSixteenths) {
  for (int level : {0, 4, 8, 16}) {
    server::canvas picture(8, 8, 9);
    picture.dither_rect(0, 0, 8, 8, 1, 2, level);
    EXPECT_EQ(count(picture, 2), 64 * level / 16) << level;
    EXPECT_EQ(count(picture, 1), 64 - 64 * level / 16) << level;
  }
}

}  // namespace
