// Unit _OS: the library's view of the operating system (command line, environment references, paths, directory walks, searches).
#include "lib/os.hpp"

#include <string>

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/os.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

te_ os_error(int code, std::string_view context) {
  return make_error(code, "/unit=_os" + std::string(context));
}

void start_os_unit() {
  if (register_banner(revision)) return;
}
void stop_os_unit() {}

}  // namespace qlib
