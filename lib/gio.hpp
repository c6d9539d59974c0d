// Unit _GIO: the registry of file types and the opening of parameter files.
#pragma once

#include <string_view>

#include "lib/system.hpp"

namespace qlib {

// make_error(code, "/unit=_gio" + context).
te_ gio_error(int code, std::string_view context);

void start_gio_unit();
void stop_gio_unit();

}  // namespace qlib
