// The command line and the program's own file name on POSIX, where the system
// keeps neither as the original platform does.
#include <unistd.h>

#include <climits>

#include "platform/process.hpp"

namespace platform {

// The parameters as received, joined by single blanks, the program path in
// double quotes when it holds a blank, as the original platform writes it.
std::string command_line() {
  std::string line = param_str(0);
  if (line.find(' ') != std::string::npos) line = '"' + line + '"';
  for (int i = 1; i <= param_count(); ++i) line += ' ' + param_str(i);
  return line;
}

std::string program_file_name() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return param_str(0);
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace platform
