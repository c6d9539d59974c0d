// Unit _LISTS: the generic lists of the library.
#include "lib/lists.hpp"

#include "lib/system.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/lists.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

void start_lists_unit() { register_banner(revision); }
void stop_lists_unit() {}

}  // namespace qlib
