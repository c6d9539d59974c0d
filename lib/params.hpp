// Unit _PARAMS: the parameter parser.
#pragma once

#include <string_view>

#include "lib/system.hpp"

namespace qlib {

// make_error(code, "/unit=_params" + context).
te_ params_error(int code, std::string_view context);

void start_params_unit();
void stop_params_unit();

}  // namespace qlib
