// Environment variables on POSIX, looked up ignoring the case of the name.
#include "platform/environment.hpp"

#include <strings.h>

#include <cstdlib>

extern char** environ;

namespace platform {

bool get_environment_variable(std::string_view name, std::string& value) {
  value.clear();
  if (name.empty() || name.find('=') != std::string_view::npos) return false;
  if (const char* exact = std::getenv(std::string(name).c_str())) {
    value = exact;
    return true;
  }
  // The program never sets a locale, so strncasecmp folds ASCII letters only.
  for (char** entry = environ; entry && *entry; ++entry) {
    if (::strncasecmp(*entry, name.data(), name.size()) != 0 || (*entry)[name.size()] != '=')
      continue;
    value = *entry + name.size() + 1;
    return true;
  }
  return false;
}

}  // namespace platform
