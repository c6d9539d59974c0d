// Environment variables on Windows: GetEnvironmentVariableA, which ignores
// the case of the name itself.
#include <string>
#include <string_view>
#include <vector>

#include "platform/private/environment.hpp"
#include "platform/windows/windows_api.hpp"

namespace platform {

bool detail::system_environment_variable(std::string_view name, std::string& value) {
  const std::string key(name);
  std::vector<char> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length =
        GetEnvironmentVariableA(key.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      // An empty value and a missing variable both give 0; only the error tells.
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value.clear();
      return true;
    }
    if (length < buffer.size()) {
      value.assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length);  // the size it needs, the terminating zero included
  }
}

}  // namespace platform
