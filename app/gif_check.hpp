// The test whether a body is a whole GIF file, before it is kept as a strip.
#pragma once

#include <string_view>

namespace app {

// True when `data` begins with a whole GIF file: the signature "GIF87a" or
// "GIF89a", the logical screen descriptor with its global colour table, then
// every block - extensions with their data sub-blocks, image descriptors with
// their local colour tables, code size and data sub-blocks - up to the trailer
// byte 0x3B. Bytes after the trailer are allowed. The image data itself is
// not decoded.
bool IsWholeGif(std::string_view data);

}  // namespace app
