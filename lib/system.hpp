// Unit _SYSTEM: the library's one way to fail (te_ built from a numeric code
// and a context string), the error hooks, the version banners, the exit
// procedures and the top-level error report.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "lib/error_codes.hpp"
#include "platform/runtime.hpp"

namespace qlib {

// The library's error: a code (kept in the help-context field of the standard
// exception base), a context of "/key=value" pairs and the message
// "Error # " + code + " " + context.
class te_ : public platform::Exception {
 public:
  te_(int code, std::string context, std::string message);

  int code() const noexcept { return help_context(); }
  const std::string& context() const noexcept { return context_; }

  // An independent copy with the same message, code and context.
  virtual std::unique_ptr<te_> clone() const;

  const char* class_name() const noexcept override { return "te_"; }
  std::unique_ptr<platform::Exception> copy() const override { return clone(); }
  [[noreturn]] void raise() const override;

 private:
  std::string context_;
};

// Hooks, empty at start. The context hook may change code and context before
// the message is built; the object hook sees the finished object; the report
// hook gets the code and the context as the caller passed them.
using context_hook_fn = void (*)(int& code, std::string& context);
using object_hook_fn = void (*)(te_& error);
using report_hook_fn = void (*)(int code, const std::string& context);
extern context_hook_fn context_hook;
extern object_hook_fn object_hook;
extern report_hook_fn report_hook;

// The code address the calling function returns to. The error helpers below
// are not inlined and pass it on, so that the report of an error names the
// code that raised it rather than the helper that built it.
#define QLIB_RETURN_ADDRESS() __builtin_extract_return_addr(__builtin_return_address(0))

// Builds the error object; the caller raises it. Code 8021 gives "BREAK " +
// context and runs no hook.
te_ make_error(int code, std::string_view context);
// make_error, naming `address` as the code that raised the error.
te_ make_error_at(const void* address, int code, std::string_view context);

// make_error(code, "/class=" + class_name + context).
te_ make_class_error(std::string_view class_name, int code, std::string_view context);

// The code of the te_ being handled (inside a catch block), else 0.
int current_error_code();

// Version banners. Banner mode is on when the program was started with exactly
// one parameter that is "/ver" or begins with "/ver=". In banner mode
// register_banner writes the unit's 60-character line and returns true, and
// the unit skips the rest of its start-up.
bool register_banner(std::string_view revision_record);
bool banner_mode();
// The 60-character line built from a revision record: source (40), revision
// (10) and date (10), each padded with blanks or cut.
std::string banner_line(std::string_view revision_record);

// Clean-up registered to run at the end of the program, last registered first,
// before the units shut down; it runs however the program ends.
void add_exit_proc(std::function<void()> proc);
void run_exit_procs();

// Ends the program with the given exit code, running the clean-up of a normal
// end. Implemented by unwinding to the program's outermost frame.
struct halt_request {
  int exit_code;
};
[[noreturn]] void halt(int exit_code);

// The top-level report of an error that left the program: the runtime's line
// naming the class, the program's file name and the code address, then the
// message with "." added unless it ends with one.
void report_exception(std::exception_ptr error, std::ostream& out);

void start_system_unit();
void stop_system_unit();

}  // namespace qlib
