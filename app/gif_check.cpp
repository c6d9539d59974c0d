// The GIF structure walk: block by block, every length checked against the
// bytes that are there.
#include "app/gif_check.hpp"

#include <cstddef>
#include <cstdint>

namespace app {
namespace {

constexpr std::uint8_t extension_introducer = 0x21;
constexpr std::uint8_t image_separator = 0x2C;
constexpr std::uint8_t trailer = 0x3B;
constexpr std::uint8_t colour_table_flag = 0x80;

class block_reader {
 public:
  explicit block_reader(std::string_view data) : data_(data) {}

  // The next byte into `value`; false at the end.
  bool byte(std::uint8_t& value) {
    if (pos_ >= data_.size()) return false;
    value = static_cast<std::uint8_t>(data_[pos_++]);
    return true;
  }
  // Steps over count bytes; false when fewer are there.
  bool skip(std::size_t count) {
    if (data_.size() - pos_ < count) return false;
    pos_ += count;
    return true;
  }
  // Steps over a colour table when `packed` says there is one; its size is
  // three bytes times two to the power of the low three bits plus one.
  bool colour_table(std::uint8_t packed) {
    if ((packed & colour_table_flag) == 0) return true;
    return skip(3u << ((packed & 7u) + 1));
  }
  // Steps over data sub-blocks up to and including the empty one.
  bool sub_blocks() {
    for (;;) {
      std::uint8_t size = 0;
      if (!byte(size)) return false;
      if (size == 0) return true;
      if (!skip(size)) return false;
    }
  }
  // Steps over `count` bytes and returns the last of them.
  bool skip_to_last(std::size_t count, std::uint8_t& last) {
    if (count == 0 || !skip(count - 1)) return false;
    return byte(last);
  }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

}  // namespace

bool IsWholeGif(std::string_view data) {
  const std::string_view signature = data.substr(0, 6);
  if (signature != "GIF87a" && signature != "GIF89a") return false;
  block_reader reader(data.substr(6));
  // Logical screen descriptor: width, height, packed fields, background, aspect.
  std::uint8_t packed = 0;
  if (!reader.skip(4) || !reader.byte(packed) || !reader.skip(2)) return false;
  if (!reader.colour_table(packed)) return false;
  for (;;) {
    std::uint8_t introducer = 0;
    if (!reader.byte(introducer)) return false;
    switch (introducer) {
      case trailer:
        return true;
      case extension_introducer: {
        std::uint8_t label = 0;
        if (!reader.byte(label) || !reader.sub_blocks()) return false;
        break;
      }
      case image_separator: {
        // Left, top, width, height, then the packed fields of the image.
        std::uint8_t image_packed = 0;
        std::uint8_t code_size = 0;
        if (!reader.skip_to_last(9, image_packed) || !reader.colour_table(image_packed) ||
            !reader.byte(code_size) || !reader.sub_blocks())
          return false;
        break;
      }
      default:
        return false;  // no block starts with this byte
    }
  }
}

}  // namespace app
