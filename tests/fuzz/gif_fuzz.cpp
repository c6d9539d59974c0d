// Fuzz target: the check for a whole GIF file, which bytes after the trailer
// never change.
#include <string>

#include "app/gif_check.hpp"
#include "tests/fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  if (app::IsWholeGif(file)) fuzz::require(app::IsWholeGif(file + "GIF89a\x3b"));
  return 0;
}
