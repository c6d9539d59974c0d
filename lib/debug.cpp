// Unit _DEBUG: debugging aids; for now only its banner.
#include "lib/debug.hpp"

#include "lib/system.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/debug.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

void start_debug_unit() { register_banner(revision); }
void stop_debug_unit() {}

}  // namespace qlib
