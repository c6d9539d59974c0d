// The runtime's exception base and conversion helpers.
#include "platform/runtime.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

namespace platform {

// Not inlined, so that the return address is the code that raises the error.
__attribute__((noinline)) Exception::Exception(std::string message, int help_context)
    : message_(std::move(message)),
      help_context_(help_context),
      address_(__builtin_extract_return_addr(__builtin_return_address(0))) {}

Exception::~Exception() = default;

std::unique_ptr<Exception> Exception::copy() const { return std::make_unique<Exception>(*this); }
void Exception::raise() const { throw *this; }

std::unique_ptr<Exception> EConvertError::copy() const {
  return std::make_unique<EConvertError>(*this);
}
void EConvertError::raise() const { throw *this; }

__attribute__((noinline)) EDivByZero::EDivByZero() : Exception("Division by zero", 0) {
  set_address(__builtin_extract_return_addr(__builtin_return_address(0)));
}
std::unique_ptr<Exception> EDivByZero::copy() const { return std::make_unique<EDivByZero>(*this); }
void EDivByZero::raise() const { throw *this; }

std::int32_t str_to_int(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t first_digit = i;
  std::int64_t value = 0;
  bool ok = i < text.size();
  for (; ok && i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') {
      ok = false;
      break;
    }
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) ok = false;
  }
  if (ok && i > first_digit) {
    if (negative) value = -value;
    if (value >= INT32_MIN && value <= INT32_MAX) return static_cast<std::int32_t>(value);
  }
  EConvertError error("'" + std::string(text) + "' is not a valid integer value");
  error.set_address(__builtin_extract_return_addr(__builtin_return_address(0)));
  throw error;
}

std::string exception_class_name(const std::exception& error) {
  if (auto* base = dynamic_cast<const Exception*>(&error)) return base->class_name();
  const char* mangled = typeid(error).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  return name;
}

}  // namespace platform
