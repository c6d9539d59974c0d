// The check for a whole GIF file: real strips made by giflib, cut at every
// byte, and hand-made files that walk each kind of block.
#include "app/gif_check.hpp"

#include <gtest/gtest.h>

#include <string>

#include "server/strip_gif.hpp"
#include "tests/support/tiny_gif.hpp"

namespace {

using namespace std::chrono_literals;

const server::day a_sunday = server::day(std::chrono::year{2026} / 12 / 6);

TEST(WholeGif, RealStripsAreWholeAndEveryCutIsNot) {
  for (const std::string& gif : {server::strip_gif("Quorvel", "quorvel", a_sunday),
                                 server::extra_gif("Quorvel", "quorvel", a_sunday),
                                 testing_support::tiny_gif(std::string(600, 't'))}) {
    ASSERT_TRUE(app::IsWholeGif(gif));
    for (std::size_t size = 0; size < gif.size(); ++size)
      ASSERT_FALSE(app::IsWholeGif(gif.substr(0, size))) << "cut after " << size << " bytes";
    EXPECT_TRUE(app::IsWholeGif(gif + "trailing bytes")) << "bytes after the trailer are allowed";
  }
}

// Pieces of hand-made files.
const std::string screen_without_table("\x08\x00\x04\x00\x00\x00\x00", 7);
const std::string screen_with_table_of_4("\x08\x00\x04\x00\x81\x00\x00", 7);  // 2^(1+1) colours
const std::string table_of_4(12, '\x7f');
const std::string image_without_table("\x2c\x00\x00\x00\x00\x08\x00\x04\x00\x00", 10);
const std::string image_with_table_of_8("\x2c\x00\x00\x00\x00\x08\x00\x04\x00\x82", 10);
const std::string table_of_8(24, '\x11');
const std::string image_data("\x02\x03\x01\x02\x03\x00", 6);  // code size, one sub-block, end
const std::string graphic_control("\x21\xf9\x04\x00\x0a\x00\x00\x00", 8);
const std::string comment("\x21\xfe\x03""abc\x02""de\x00", 10);

struct gif_row {
  std::string bytes;
  bool whole;
  const char* why;
};

class HandMade : public testing::TestWithParam<gif_row> {};

TEST_P(HandMade, IsJudgedByItsBlocks) {
  EXPECT_EQ(app::IsWholeGif(GetParam().bytes), GetParam().whole) << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Files, HandMade,
    testing::Values(
        gif_row{"GIF87a" + screen_without_table + image_without_table + image_data + ";", true,
                "the older signature"},
        gif_row{"GIF89a" + screen_with_table_of_4 + table_of_4 + graphic_control + comment +
                    image_with_table_of_8 + table_of_8 + image_data + ";",
                true, "both colour tables and two kinds of extension"},
        gif_row{"GIF89a" + screen_without_table + image_without_table + image_data +
                    image_without_table + image_data + ";",
                true, "two images"},
        gif_row{"GIF89a" + screen_without_table + ";", true, "no image at all: still well formed"},
        gif_row{"GIF89a" + screen_without_table + std::string("\x21\xfe\x01""a\x01""b\x00", 7) +
                    image_without_table + image_data + ";",
                true, "sub-blocks of one byte each"},
        gif_row{"GIF88a" + screen_without_table + image_without_table + image_data + ";", false,
                "an unknown version"},
        gif_row{"gif89a" + screen_without_table + image_without_table + image_data + ";", false,
                "the signature is case-sensitive"},
        gif_row{"<html>" + screen_without_table + image_without_table + image_data + ";", false,
                "a page, not a GIF"},
        gif_row{"GIF89a" + screen_without_table + image_without_table + image_data, false,
                "no trailer"},
        gif_row{"GIF89a" + screen_with_table_of_4 + image_without_table + image_data + ";", false,
                "the global colour table is missing: the blocks are read as its bytes"},
        gif_row{"GIF89a" + screen_without_table + image_with_table_of_8 + image_data + ";", false,
                "the local colour table is missing"},
        gif_row{"GIF89a" + screen_without_table + std::string("\x21\xfe\x05""ab", 5) + ";", false,
                "a sub-block longer than what follows"},
        gif_row{"GIF89a" + screen_without_table + std::string("\x21\xfe\x01x", 4) + ";", false,
                "sub-blocks without their empty end: the trailer is read as a size"},
        gif_row{"GIF89a" + screen_without_table + std::string(1, '\0') + ";", false,
                "a byte that starts no block"},
        gif_row{"GIF89a" + screen_without_table + image_without_table + ";", false,
                "an image without its data"}));

}  // namespace
