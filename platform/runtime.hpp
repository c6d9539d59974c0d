// The language runtime's own pieces that the code above relies on: the standard
// exception base (a message and a help-context number), the conversion error of
// string-to-integer conversion and the division-by-zero error.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Base of every error object the program raises. It holds a message and a
// help-context number, and remembers the code address where it was raised so
// that the top-level report can name it.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message, int help_context = 0);
  ~Exception() override;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  void set_message(std::string message) { message_ = std::move(message); }
  int help_context() const noexcept { return help_context_; }
  void set_help_context(int value) noexcept { help_context_ = value; }

  // Code address of the failure (the caller of the constructor, unless set).
  const void* address() const noexcept { return address_; }
  void set_address(const void* address) noexcept { address_ = address; }

  // The class name as the top-level report prints it.
  virtual const char* class_name() const noexcept { return "Exception"; }
  // An independent copy of the same class with the same message and fields.
  virtual std::unique_ptr<Exception> copy() const;
  // Throws *this as its most derived class.
  [[noreturn]] virtual void raise() const;

 private:
  std::string message_;
  int help_context_;
  const void* address_;
};

// Raised by str_to_int for a text that is not a decimal integer.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* class_name() const noexcept override { return "EConvertError"; }
  std::unique_ptr<Exception> copy() const override;
  [[noreturn]] void raise() const override;
};

// Raised for an integer division by zero (never a hardware trap).
class EDivByZero : public Exception {
 public:
  EDivByZero();
  const char* class_name() const noexcept override { return "EDivByZero"; }
  std::unique_ptr<Exception> copy() const override;
  [[noreturn]] void raise() const override;
};

// String-to-integer conversion: optional leading blanks, an optional sign,
// then decimal digits up to the end of the text, within 32 bits. Anything
// else raises EConvertError "'TEXT' is not a valid integer value".
std::int32_t str_to_int(std::string_view text);

// The demangled class name of any exception object, for the top-level report.
std::string exception_class_name(const std::exception& error);

}  // namespace platform
