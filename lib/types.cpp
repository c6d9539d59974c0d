// Unit _TYPES: start-up registers its banner.
#include "lib/types.hpp"

#include "lib/system.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/types.cpp $ $Revision: 1.4 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

void start_types_unit() { register_banner(revision); }
void stop_types_unit() {}

}  // namespace qlib
