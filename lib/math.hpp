// Unit _MATH: integer helpers and the unit's error function.
#pragma once

#include <cstdint>
#include <string_view>

#include "lib/system.hpp"

namespace qlib {

// make_error(code, "/unit=_math" + context).
te_ math_error(int code, std::string_view context);

// Unsigned 32-bit division; a zero divisor is error 200.
std::uint32_t unsigned_div(std::uint32_t dividend, std::uint32_t divisor);

void start_math_unit();
void stop_math_unit();

}  // namespace qlib
