// Unit _MATH.
#include "lib/math.hpp"

#include <string>

#include "lib/error_codes.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/math.cpp $ $Revision: 1.2 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

// Not inlined: the error names the code that called it.
__attribute__((noinline)) te_ math_error(int code, std::string_view context) {
  return make_error_at(QLIB_RETURN_ADDRESS(), code, "/unit=_math" + std::string(context));
}

std::uint32_t unsigned_div(std::uint32_t dividend, std::uint32_t divisor) {
  if (divisor == 0) throw math_error(err_math_division_by_zero, "");
  return dividend / divisor;
}

void start_math_unit() { register_banner(revision); }
void stop_math_unit() {}

}  // namespace qlib
