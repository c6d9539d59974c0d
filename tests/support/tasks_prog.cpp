// A program that names the task records its start-up set up and then leaves
// its main block by error 2024, so that the tests can see the task suffix of
// its errors, or its absence in banner mode.
#include <iostream>

#include "app/startup.hpp"
#include "lib/system.hpp"
#include "lib/tasks.hpp"

namespace {

void main_block() {
  if (!qlib::current_task) {
    std::cout << "no tasks\n";
  } else {
    std::cout << "tasks: " << qlib::current_task->task_name << ", "
              << qlib::dispatcher_task->task_name << ", " << qlib::stopper_task->task_name
              << "\n";
  }
  throw qlib::make_error(2024, "");
}

}  // namespace

int main(int argc, char** argv) { return app::run_program(argc, argv, main_block); }
