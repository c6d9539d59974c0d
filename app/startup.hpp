// Start-up and shut-down of every unit, in one place, and the program frame
// that reports an error leaving the main block.
#pragma once

namespace app {

// Starts the units in their fixed order; stop_units shuts down those that
// started, in the reverse order.
void start_units();
void stop_units();

// Runs a program: records the arguments, starts the units, runs the main
// block, reports any error that leaves it (exit code 1), then runs the exit
// procedures and shuts the units down. Returns the exit code.
int run_program(int argc, char** argv, void (*main_block)());

}  // namespace app
