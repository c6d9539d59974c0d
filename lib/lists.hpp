// Unit _LISTS: the generic lists of the library.
#pragma once

namespace qlib {

void start_lists_unit();
void stop_lists_unit();

}  // namespace qlib
