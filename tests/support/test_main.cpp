// Test entry: the units start as they do in the program, before any test runs.
#include <gtest/gtest.h>

#include "app/startup.hpp"
#include "lib/system.hpp"
#include "platform/process.hpp"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  char* program_only[] = {argv[0], nullptr};
  platform::set_args(1, program_only);  // no banner mode in the tests
  app::start_units();
  const int result = RUN_ALL_TESTS();
  qlib::run_exit_procs();
  app::stop_units();
  return result;
}
