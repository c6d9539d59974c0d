// The program's parameters as main received them, on every system.
#include "platform/process.hpp"

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

}  // namespace platform
