// The catalogue's invariants that the rest of the program relies on.
#include "app/comics.hpp"

#include <gtest/gtest.h>

#include <iterator>
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

// Every row, in the order of the comic list: index 7 is the default comic,
// rows 4 and 25 share "dk", row 30 lies under "partner".
TEST(Comics, TheRowsInOrder) {
  const struct {
    std::string_view prefix, key, title, section;
  } rows[] = {
      {"ap", "amberpike", "Amber Pike", "comics"},
      {"bw", "bennywren", "Benny && Wren", "comics"},
      {"cv", "clover", "Clover", "comics"},
      {"dk", "dustykid", "Dusty Kid", "comics"},
      {"fm", "foglemen", "The Fogle Men", "comics"},
      {"gd", "gadgets", "The Gadgets", "comics"},
      {"hn", "hinged", "Hinged", "comics"},
      {"qv", "quorvel", "Quorvel", "comics"},
      {"jb", "jobble", "Jobble", "comics"},
      {"kp", "kipnpeck", "Kip && Peck", "comics"},
      {"lm", "lessmore", "Less or More Today", "comics"},
      {"mo", "mortnotto", "Mort && Otto", "comics"},
      {"nb", "nettlebys", "The Nettlebys", "comics"},
      {"os", "oswald", "Oswald", "comics"},
      {"pl", "parkline", "Park Line", "comics"},
      {"rt", "rivetncat", "Rivet'N' Cat", "comics"},
      {"sa", "sabra", "Sabra", "comics"},
      {"tb", "tobble", "Tobble", "comics"},
      {"vh", "vinehall", "Vinehall Nights", "comics"},
      {"wi", "wim", "Wim!", "comics"},
      {"yd", "yodie", "Yodie", "comics"},
      {"uz", "zephyr", "Under the Zephyr", "comics"},
      {"ck", "cricket", "Cricket", "comics"},
      {"fc", "factor", "Factor Check", "comics"},
      {"dk", "marvels", "Marvels Told or Untold!", "comics"},
      {"gm", "gearman", "Gearman", "comics"},
      {"ll", "lilyislily", "Lily Is Lily", "comics"},
      {"tu", "tundra", "Tundra", "comics"},
      {"pi", "pip", "Pip", "comics"},
      {"ow", "owlfred", "Owlfred", "partner"},
  };
  ASSERT_EQ(std::size(rows), app::Comics.size());
  for (std::size_t i = 0; i < app::Comics.size(); ++i) {
    const auto& comic = app::Comics[i];
    EXPECT_EQ(comic.Prefix, rows[i].prefix) << "row " << i + 1;
    EXPECT_EQ(comic.Key, rows[i].key) << "row " << i + 1;
    EXPECT_EQ(comic.Title, rows[i].title) << "row " << i + 1;
    EXPECT_EQ(comic.Section, rows[i].section) << "row " << i + 1;
  }
}

}  // namespace
