// Unit _DEBUG: debugging aids; for now only its banner.
#pragma once

namespace qlib {

void start_debug_unit();
void stop_debug_unit();

}  // namespace qlib
