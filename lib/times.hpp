// Unit _TIMES: time helpers; for now only its banner.
#pragma once

namespace qlib {

void start_times_unit();
void stop_times_unit();

}  // namespace qlib
