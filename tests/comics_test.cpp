// The catalogue's invariants that the rest of the program relies on.
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

TEST(Comics, OneServerForAllAndTheFixedRows) {
  for (const auto& comic : app::Comics) {
    EXPECT_EQ(comic.BaseURL, QUORVEL_BASE_URL);
    EXPECT_NE(comic.BaseURL.back(), '/');
  }
  EXPECT_EQ(app::Comics[7].Key, "quorvel");  // the default comic
  EXPECT_EQ(app::Comics[3].Prefix, app::Comics[24].Prefix);
  EXPECT_EQ(app::Comics[29].Section, "partner");
  EXPECT_EQ(app::Comics[1].Title, "Benny && Wren");
}

}  // namespace
