// The fuzz targets' start-up, once per process: the units start as in the
// test programs, which error contexts need.
#include "app/startup.hpp"
#include "platform/process.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
  static char* program_only[] = {(*argv)[0], nullptr};
  platform::set_args(1, program_only);  // no banner mode
  app::start_units();
  return 0;
}
