// The process as the original platform shows it: the parameters, the raw
// command line and the program's own file name.
#pragma once

#include <string>

namespace platform {

// Records the program's arguments; called first thing in main.
void set_args(int argc, char** argv);

// Number of parameters after the program name, and parameter i (0 is the
// program as started, 1.. the parameters); an index out of range gives "".
int param_count();
std::string param_str(int index);

// The command line as one text, as the system keeps it; where the system
// keeps none, the program path, a blank, and the parameters joined by single
// blanks.
std::string command_line();

// The program's own file name, full path, as the system names it.
std::string program_file_name();

}  // namespace platform
