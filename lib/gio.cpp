// Unit _GIO: the registry of file types and the opening of parameter files.
#include "lib/gio.hpp"

#include <string>

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/gio.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

te_ gio_error(int code, std::string_view context) {
  return make_error(code, "/unit=_gio" + std::string(context));
}

void start_gio_unit() {
  if (register_banner(revision)) return;
}
void stop_gio_unit() {}

}  // namespace qlib
