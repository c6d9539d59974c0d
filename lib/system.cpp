// Unit _SYSTEM: error objects, hooks, banners, exit procedures, the report.
#include "lib/system.hpp"

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <vector>

#include "lib/types.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"

namespace qlib {
namespace {

constexpr const char* revision =
    "$Source: /quorvel/lib/system.cpp $ $Revision: 2.3 $ $State: Exp $ "
    "$Date: 2026/12/01 14:05:12 $ $Author: quorvel $";

struct banner_state {
  bool on = false;
  bool to_file = false;
  std::string file_name;
};
banner_state& banners() {
  static banner_state state;
  return state;
}

std::vector<std::function<void()>>& exit_procs() {
  static std::vector<std::function<void()>> procs;
  return procs;
}

// The value after `key` in a revision record, up to the next "$"; empty when
// the key or the closing "$" is missing.
std::string_view record_field(std::string_view record, std::string_view key) {
  const auto start = record.find(key);
  if (start == std::string_view::npos) return {};
  const auto value = start + key.size();
  const auto end = record.find('$', value);
  if (end == std::string_view::npos) return {};
  return record.substr(value, end - value);
}

void append_padded(std::string& line, std::string_view field, std::size_t width) {
  const auto part = field.substr(0, width);
  line.append(part);
  line.append(width - part.size(), ' ');
}

// The file name of a path of either system: after the last "/", "\" or drive
// colon.
std::string base_name(const std::string& path) {
  const auto slash = path.find_last_of("/\\:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

context_hook_fn context_hook = nullptr;
object_hook_fn object_hook = nullptr;
report_hook_fn report_hook = nullptr;

te_::te_(int code, std::string context, std::string message)
    : platform::Exception(std::move(message), code), context_(std::move(context)) {}

std::unique_ptr<te_> te_::clone() const { return std::make_unique<te_>(*this); }
void te_::raise() const { throw *this; }

__attribute__((noinline)) te_ make_error(int code, std::string_view context) {
  return make_error_at(QLIB_RETURN_ADDRESS(), code, context);
}

te_ make_error_at(const void* caller, int code, std::string_view context) {
  if (code == break_code) {
    // The message is not cut: like every other message it may pass 255.
    const std::string copy = short_str(context);
    te_ error(code, copy, "BREAK " + copy);
    error.set_address(caller);
    return error;
  }
  std::string copy = short_str(context);
  int final_code = code;
  if (context_hook) context_hook(final_code, copy);
  copy = short_str(copy);
  const std::string digits = final_code == 0 ? std::string() : std::to_string(final_code);
  te_ error(final_code, copy, "Error # " + digits + " " + copy);
  error.set_address(caller);
  if (object_hook) object_hook(error);
  if (report_hook) report_hook(code, std::string(context));
  return error;
}

__attribute__((noinline)) te_ make_class_error(std::string_view class_name, int code,
                                               std::string_view context) {
  std::string full = "/class=";
  full += class_name;
  full += context;
  return make_error_at(QLIB_RETURN_ADDRESS(), code, short_str(full));
}

int current_error_code() {
  const std::exception_ptr error = std::current_exception();
  if (!error) return 0;
  try {
    std::rethrow_exception(error);
  } catch (const te_& handled) {
    return handled.code();
  } catch (...) {
    return 0;
  }
}

std::string banner_line(std::string_view revision_record) {
  std::string line;
  append_padded(line, record_field(revision_record, "$Source: "), 40);
  append_padded(line, record_field(revision_record, "$Revision: "), 10);
  append_padded(line, record_field(revision_record, "$Date: "), 10);
  return line;
}

bool banner_mode() { return banners().on; }

bool register_banner(std::string_view revision_record) {
  const banner_state& state = banners();
  if (!state.on) return false;
  const std::string line = banner_line(revision_record) + "\n";
  if (state.to_file) {
    platform::append_to_file(state.file_name, line);  // write errors are ignored
  } else {
    std::cout << line;
  }
  return true;
}

void add_exit_proc(std::function<void()> proc) { exit_procs().push_back(std::move(proc)); }

void run_exit_procs() {
  auto& procs = exit_procs();
  while (!procs.empty()) {
    auto proc = std::move(procs.back());
    procs.pop_back();
    try {
      proc();
    } catch (...) {
      // Clean-up at the end must not stop the rest of the clean-up.
    }
  }
}

void halt(int exit_code) { throw halt_request{exit_code}; }

void report_exception(std::exception_ptr error, std::ostream& out) {
  std::string class_name = "Exception";
  std::string message;
  const void* address = nullptr;
  try {
    std::rethrow_exception(error);
  } catch (const platform::Exception& e) {
    class_name = e.class_name();
    message = e.message();
    address = e.address();
  } catch (const std::exception& e) {
    class_name = platform::exception_class_name(e);
    message = e.what();
  } catch (...) {
    message = "Unknown exception";
  }
  // Worded in English, with the code address in the full width of this build.
  char head[64];
  std::snprintf(head, sizeof head, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
  out << "Exception " << class_name << " in module " << base_name(platform::program_file_name())
      << " at " << head << ".\n";
  out << message;
  if (message.empty() || message.back() != '.') out << '.';
  out << '\n';
  out.flush();
}

void start_system_unit() {
  banner_state& state = banners();
  state = banner_state{};
  if (platform::param_count() == 1) {
    const std::string param = platform::param_str(1);
    if (param == "/ver") {
      state.on = true;
    } else if (param.compare(0, 5, "/ver=") == 0) {
      state.on = true;
      state.to_file = true;
      state.file_name = param.substr(5);
    }
  }
  register_banner(revision);
}

void stop_system_unit() {}

}  // namespace qlib
