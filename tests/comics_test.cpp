// The catalogue's invariants that the rest of the program relies on. The keys
// and titles in the order of the comic list are the driver suite's (its list).
#include "app/comics.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(Comics, KeysAreUniqueLowerCaseAndAtMost20Characters) {
  std::set<std::string_view> keys;
  for (const auto& comic : app::Comics) {
    EXPECT_TRUE(keys.insert(comic.Key).second) << comic.Key;
    EXPECT_LE(comic.Key.size(), 20u) << comic.Key;
    for (char c : comic.Key) EXPECT_FALSE(c >= 'A' && c <= 'Z') << comic.Key;
  }
}

TEST(Comics, OneServerForAll) {
  for (const auto& comic : app::Comics) {
    EXPECT_EQ(comic.BaseURL, QUORVEL_BASE_URL);
    EXPECT_NE(comic.BaseURL.back(), '/');
  }
}

// The prefixes name the strip files already on disk: one changed, and an
// archive is fetched again under new names. Rows 4 and 25 share "dk".
TEST(Comics, PrefixesInTheOrderOfTheList) {
  std::string prefixes;
  for (const auto& comic : app::Comics) prefixes += std::string(comic.Prefix) + " ";
  EXPECT_EQ(prefixes,
            "ap bw cv dk fm gd hn qv jb kp lm mo nb os pl rt sa tb vh wi yd uz ck fc dk gm ll tu pi ow ");
}

// Row 8 is the default comic; row 30 alone lies under "partner".
TEST(Comics, TheDefaultComicAndTheSections) {
  EXPECT_EQ(app::Comics[7].Key, "quorvel");
  for (std::size_t i = 0; i < app::Comics.size(); ++i)
    EXPECT_EQ(app::Comics[i].Section, i == 29 ? "partner" : "comics") << "row " << i + 1;
}

}  // namespace
