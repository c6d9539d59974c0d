// Process stand-ins on POSIX.
#include "platform/process.hpp"

#include <unistd.h>

#include <climits>
#include <vector>

namespace platform {
namespace {
std::vector<std::string>& args() {
  static std::vector<std::string> list;
  return list;
}
}  // namespace

void set_args(int argc, char** argv) {
  args().assign(argv, argv + argc);
}

int param_count() { return args().empty() ? 0 : static_cast<int>(args().size()) - 1; }

std::string param_str(int index) {
  if (index < 0 || index >= static_cast<int>(args().size())) return {};
  return args()[static_cast<std::size_t>(index)];
}

std::string command_line() {
  std::string line;
  for (std::size_t i = 0; i < args().size(); ++i) {
    if (i > 0) line += ' ';
    line += args()[i];
  }
  return line;
}

std::string program_file_name() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return param_str(0);
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace platform
