// t_object: set-up refusal, freeing, and the quoting its error uses.
#include "lib/object.hpp"

#include "lib/error_codes.hpp"
#include "lib/system.hpp"

namespace qlib {

void t_object::setup(std::string_view parameter) {
  const auto par = quoted(parameter);
  if (!par) throw make_error(err_quoted_too_long, "");
  throw make_class_error(class_name(), err_setup_refused, "/proc=setup/par=" + *par);
}

void object_deleter::operator()(t_object* object) const noexcept {
  if (!object) return;
  try {
    object->done();
  } catch (...) {
    // An object is freed even when its clean-up fails.
  }
  delete object;
}

std::optional<std::string> quoted(std::string_view text) {
  std::string doubled;
  for (const char c : text) {
    doubled += c;
    if (c == '"') doubled += '"';
  }
  if (doubled.size() > 253) return std::nullopt;
  return '"' + doubled + '"';
}

}  // namespace qlib
