// Unit _PARAMS: the parameter parser.
#include "lib/params.hpp"

#include <string>

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/params.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

te_ params_error(int code, std::string_view context) {
  return make_error(code, "/unit=_params" + std::string(context));
}

void start_params_unit() {
  if (register_banner(revision)) return;
}
void stop_params_unit() {}

}  // namespace qlib
