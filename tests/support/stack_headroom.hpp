// How much of a task's stack was never used: the bytes at its bottom that
// still hold the 0xFF fill of create_task.
#pragma once

#include <cstddef>

#include "lib/tasks.hpp"

namespace testing_support {

__attribute__((no_sanitize_address)) inline std::size_t stack_headroom(const qlib::task_rec* task) {
  const auto* bottom = static_cast<const unsigned char*>(task->stack_bottom);
  std::size_t n = 0;
  while (n < task->stack_size && bottom[n] == 0xFF) ++n;
  return n;
}

}  // namespace testing_support
