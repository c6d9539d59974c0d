// Environment variables on POSIX, looked up ignoring the case of the name.
#include "platform/private/environment.hpp"

#include <strings.h>

#include <cstdlib>

extern char** environ;

namespace platform {

namespace {

bool find_variable(std::string_view name, std::string& value) {
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

}  // namespace

bool detail::system_environment_variable(std::string_view name, std::string& value) {
  if (!find_variable(name, value)) return false;
  // The original platform separates the directories of PATH with ";", and the
  // library splits it there; POSIX separates them with ":".
  if (name.size() == 4 && ::strncasecmp(name.data(), "path", 4) == 0)
    for (char& c : value)
      if (c == ':') c = ';';
  return true;
}

}  // namespace platform
