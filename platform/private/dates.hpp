// The system half of the local clock: each system reads its own.
// Private to platform/: nothing above it includes this header.
#pragma once

#include "platform/dates.hpp"

namespace platform::detail {

// The system's local date and time, which each system reads its own way.
struct local_time {
  int year, month, day, hour, minute, second;
};
local_time read_local_clock();

}  // namespace platform::detail
