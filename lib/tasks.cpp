// Unit _tasks.
#include "lib/tasks.hpp"

#include "lib/system.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/tasks.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

void start_tasks_unit() {
  if (register_banner(revision)) return;
}
void stop_tasks_unit() {}

}  // namespace qlib
