// Decodes a GIF held in memory with giflib, for the suites of the comics
// server (they link giflib through the server's parts).
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace testing_support {

struct gif_facts {
  bool ok = false;       // giflib read the whole file
  int width = 0;         // screen size
  int height = 0;
  int images = 0;
  int colours = 0;       // entries of the global colour map
};

inline gif_facts decode_gif(const std::string& bytes) {
  struct source {
    const std::string* bytes;
    std::size_t position;
  } from{&bytes, 0};
  const auto read = [](GifFileType* file, GifByteType* out, int wanted) {
    auto* in = static_cast<source*>(file->UserData);
    const std::size_t count =
        std::min(static_cast<std::size_t>(wanted), in->bytes->size() - in->position);
    std::memcpy(out, in->bytes->data() + in->position, count);
    in->position += count;
    return static_cast<int>(count);
  };
  gif_facts facts;
  int error = 0;
  GifFileType* file = DGifOpen(&from, read, &error);
  if (file == nullptr) return facts;
  facts.ok = DGifSlurp(file) == GIF_OK;
  facts.width = file->SWidth;
  facts.height = file->SHeight;
  facts.images = file->ImageCount;
  facts.colours = file->SColorMap != nullptr ? file->SColorMap->ColorCount : 0;
  DGifCloseFile(file, &error);
  return facts;
}

}  // namespace testing_support
