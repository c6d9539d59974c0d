// A small but whole GIF file that carries a tag in a comment, for scripted
// servers whose strips must pass the check for a whole GIF and still tell
// one strip from another.
#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// GIF89a, a 1x1 screen with a two-colour table, a comment extension holding
// `tag` (in sub-blocks of up to 255 bytes), one 1x1 image and the trailer.
inline std::string tiny_gif(std::string_view tag = "") {
  std::string gif("GIF89a", 6);
  gif += std::string("\x01\x00\x01\x00\x80\x00\x00", 7);     // screen, colour table of 2
  gif += std::string("\x00\x00\x00\xff\xff\xff", 6);         // black, white
  gif += std::string("\x21\xfe", 2);                         // comment extension
  for (std::size_t at = 0; at < tag.size(); at += 255) {
    const std::string_view piece = tag.substr(at, 255);
    gif += static_cast<char>(piece.size());
    gif += piece;
  }
  gif += '\0';
  gif += std::string("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);  // image descriptor
  gif += std::string("\x02\x02\x44\x01\x00", 5);                       // code size 2, data
  gif += '\x3b';
  return gif;
}

}  // namespace testing_support
