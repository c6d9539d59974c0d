// The strip images: real GIFs of the promised size, the same bytes for the
// same comic and day, different ones otherwise.
#include "server/strip_gif.hpp"

#include <gtest/gtest.h>

#include "app/comics.hpp"
#include "tests/support/gif_decode.hpp"

namespace {

using namespace std::chrono;

const server::day tuesday = sys_days{year{2024} / 3 / 5};

TEST(StripGif, EveryComicsStripDecodesToTheStripSizeWithin10To40KB) {
  for (const auto& comic : app::Comics) {
    for (int offset : {0, 1, 200}) {
      const server::day d = tuesday + days{offset};
      const std::string gif = server::strip_gif(comic.Title, comic.Key, d);
      const auto facts = testing_support::decode_gif(gif);
      ASSERT_TRUE(facts.ok) << comic.Key;
      EXPECT_EQ(facts.width, server::strip_width) << comic.Key;
      EXPECT_EQ(facts.height, server::strip_height) << comic.Key;
      EXPECT_EQ(facts.images, 1) << comic.Key;
      EXPECT_EQ(facts.colours, 32) << comic.Key;
      EXPECT_GE(gif.size(), 10u * 1024) << comic.Key << " " << offset;
      EXPECT_LE(gif.size(), 40u * 1024) << comic.Key << " " << offset;
    }
  }
}

TEST(StripGif, TheExtraImageIsSmallerThanTheStrip) {
  const std::string strip = server::strip_gif("Quorvel", "quorvel", tuesday);
  const std::string extra = server::extra_gif("Quorvel", "quorvel", tuesday);
  const auto facts = testing_support::decode_gif(extra);
  ASSERT_TRUE(facts.ok);
  EXPECT_EQ(facts.width, server::extra_width);
  EXPECT_EQ(facts.height, server::extra_height);
  EXPECT_LT(extra.size(), strip.size());
}

TEST(StripGif, SameComicAndDayGiveTheSameBytesAndOthersDiffer) {
  const std::string strip = server::strip_gif("Quorvel", "quorvel", tuesday);
  EXPECT_EQ(server::strip_gif("Quorvel", "quorvel", tuesday), strip);
  EXPECT_NE(server::strip_gif("Quorvel", "quorvel", tuesday + days{1}), strip);
  EXPECT_NE(server::strip_gif("Quorvel", "jobble", tuesday), strip);
  EXPECT_NE(server::strip_gif("Jobble", "quorvel", tuesday), strip) << "the title is drawn";
  EXPECT_EQ(server::extra_gif("Quorvel", "quorvel", tuesday),
            server::extra_gif("Quorvel", "quorvel", tuesday));
}

TEST(StripGif, TheHeadingShowsTheTitleLeftAndTheDateRight) {
  // Two days in a row: the title half of the heading is the same, the date half is not.
  const server::canvas a = server::draw_strip("Quorvel", "quorvel", tuesday);
  const server::canvas b = server::draw_strip("Quorvel", "quorvel", tuesday + days{1});
  const int heading = 30;
  int left_differences = 0;
  int right_differences = 0;
  for (int y = 0; y < heading; ++y)
    for (int x = 0; x < server::strip_width; ++x)
      if (a.at(x, y) != b.at(x, y)) ++(x < server::strip_width / 2 ? left_differences : right_differences);
  EXPECT_EQ(left_differences, 0);
  EXPECT_GT(right_differences, 0);
}

}  // namespace
