// Fuzz target: an integer expression and a yes/no value, which either give a
// value or raise one of their documented errors.
#include <string_view>

#include "lib/convert.hpp"
#include "tests/fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    qlib::eval_int(text);
  } catch (const qlib::te_& error) {
    fuzz::require(error.code() >= 2090 && error.code() <= 2097);
  } catch (const platform::EDivByZero&) {
  }
  try {
    qlib::yes_no(text);
  } catch (const qlib::te_& error) {
    fuzz::require(error.code() == 106 || error.code() == 201);
  }
  return 0;
}
