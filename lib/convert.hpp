// Unit _CONVERT: yes/no values and integer expressions in parameter values.
#pragma once

#include <cstdint>
#include <string_view>

#include "lib/system.hpp"

namespace qlib {

// make_error(code, "/unit=_convert" + context).
te_ convert_error(int code, std::string_view context);

// A single blank (a bare switch) is yes; otherwise the first character decides:
// "+1JYjy" yes, "-0Nn" no. Empty: error 106; any other first character: 201.
bool yes_no(std::string_view value);

// Evaluates an integer expression over 32-bit signed integers that wrap
// around. A value that is empty after removing trailing blanks is 0. A zero
// divisor raises platform::EDivByZero; syntax errors raise 2090 to 2097.
std::int32_t eval_int(std::string_view value);

void start_convert_unit();
void stop_convert_unit();

}  // namespace qlib
