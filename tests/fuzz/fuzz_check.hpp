// The fuzz targets' check of an invariant: where it fails the process aborts,
// which libFuzzer reports as a crash and keeps the input.
#pragma once

#include <cstdlib>

namespace fuzz {

inline void require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace fuzz
