// The comic catalogue: the 30 comics the program can fetch, in the order of
// the comic list. Constant data.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace app {

struct TComic {
  std::string_view Prefix;   // first characters of every strip file name
  std::string_view BaseURL;  // scheme and host of the comics web server, no trailing slash
  std::string_view Key;      // the "/mode=" value and the second path segment; lower case
  std::string_view Title;    // as printed in the comic list
  std::string_view Section;  // the first path segment of the comic's pages
};

inline constexpr std::size_t comic_count = 30;

// Index 7 ("quorvel") is the default comic. Prefixes are not unique: indices 3
// and 24 (rows 4 and 25 of the comic list) share "dk".
extern const std::array<TComic, comic_count> Comics;

}  // namespace app
