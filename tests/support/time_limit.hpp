// Sets the sockets' time limit in synchronous mode for one test and puts
// the old one back when the test ends, whatever its outcome.
#pragma once

#include <chrono>

#include "platform/sockets.hpp"

namespace testing_support {

class time_limit {
 public:
  explicit time_limit(std::chrono::milliseconds limit) : old_(platform::sync_time_limit()) {
    platform::set_sync_time_limit(limit);
  }
  ~time_limit() { platform::set_sync_time_limit(old_); }
  time_limit(const time_limit&) = delete;
  time_limit& operator=(const time_limit&) = delete;

 private:
  std::chrono::milliseconds old_;
};

}  // namespace testing_support
