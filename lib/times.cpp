// Unit _TIMES: time helpers; for now only its banner.
#include "lib/times.hpp"

#include "lib/system.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/times.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

void start_times_unit() { register_banner(revision); }
void stop_times_unit() {}

}  // namespace qlib
