// Environment variables on every system: the names no system can hold are
// turned away before the system's own lookup.
#include "platform/environment.hpp"

#include "platform/private/environment.hpp"

namespace platform {

bool get_environment_variable(std::string_view name, std::string& value) {
  value.clear();
  if (name.empty() || name.find('=') != std::string_view::npos) return false;
  return detail::system_environment_variable(name, value);
}

}  // namespace platform
