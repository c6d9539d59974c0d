// Unit _OS: the library's view of the operating system (command line, environment references, paths, directory walks, searches).
#pragma once

#include <string_view>

#include "lib/system.hpp"

namespace qlib {

// make_error(code, "/unit=_os" + context).
te_ os_error(int code, std::string_view context);

void start_os_unit();
void stop_os_unit();

}  // namespace qlib
