// A program that leaves its main block by the error its first parameter
// names, so that the tests can check the top-level report and the clean-up.
#include <iostream>
#include <stdexcept>
#include <string>

#include "app/startup.hpp"
#include "lib/system.hpp"
#include "platform/process.hpp"
#include "platform/runtime.hpp"

namespace {

void main_block() {
  qlib::add_exit_proc([] { std::cout << "exit procedure ran\n"; });
  const std::string kind = platform::param_str(1);
  std::cout << "main block\n";
  if (kind == "te") throw qlib::make_error(2024, "");
  if (kind == "dotted") throw qlib::make_error(7, "/unit=_os/name=a.");
  if (kind == "break") throw qlib::make_error(qlib::break_code, "/unit=_os/name=a.");
  if (kind == "convert") platform::str_to_int("2x0");
  if (kind == "std") throw std::runtime_error("plain failure");
  if (kind == "int") throw 42;
  if (kind == "halt") qlib::halt(3);
  std::cout << "normal end\n";
}

}  // namespace

int main(int argc, char** argv) { return app::run_program(argc, argv, main_block); }
