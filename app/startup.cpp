// The units' start-up order, written out once: nothing relies on the order in
// which C++ initialises static objects across files.
#include "app/startup.hpp"

#include <iostream>

#include "lib/chars.hpp"
#include "lib/convert.hpp"
#include "lib/debug.hpp"
#include "lib/gio.hpp"
#include "lib/lists.hpp"
#include "lib/math.hpp"
#include "lib/os.hpp"
#include "lib/params.hpp"
#include "lib/system.hpp"
#include "lib/tasks.hpp"
#include "lib/times.hpp"
#include "lib/types.hpp"
#include "platform/process.hpp"
#include "tcpip/tcpip.hpp"

namespace app {
namespace {

struct unit {
  void (*start)();
  void (*stop)();
};

constexpr unit units[] = {
    {qlib::start_system_unit, qlib::stop_system_unit},
    {qlib::start_types_unit, qlib::stop_types_unit},
    {qlib::start_math_unit, qlib::stop_math_unit},
    {qlib::start_chars_unit, qlib::stop_chars_unit},
    {qlib::start_convert_unit, qlib::stop_convert_unit},
    {qlib::start_debug_unit, qlib::stop_debug_unit},
    {qlib::start_lists_unit, qlib::stop_lists_unit},
    {qlib::start_os_unit, qlib::stop_os_unit},
    {qlib::start_times_unit, qlib::stop_times_unit},
    {qlib::start_tasks_unit, qlib::stop_tasks_unit},
    {qlib::start_params_unit, qlib::stop_params_unit},
    {qlib::start_gio_unit, qlib::stop_gio_unit},
    {tcpip::start_tcpip_unit, tcpip::stop_tcpip_unit},
};

std::size_t started = 0;

}  // namespace

void start_units() {
  for (; started < std::size(units); ++started) units[started].start();
}

void stop_units() {
  while (started > 0) {
    --started;
    try {
      units[started].stop();
    } catch (...) {
      // A unit that fails to shut down must not keep the others from it.
    }
  }
}

int run_program(int argc, char** argv, void (*main_block)()) {
  platform::set_args(argc, argv);
  int exit_code = 0;
  try {
    start_units();
    main_block();
  } catch (const qlib::halt_request& request) {
    exit_code = request.exit_code;
  } catch (...) {
    qlib::report_exception(std::current_exception(), std::cout);
    exit_code = 1;
  }
  qlib::run_exit_procs();
  stop_units();
  std::cout.flush();
  return exit_code;
}

}  // namespace app
