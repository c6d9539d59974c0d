// The command line and the program's own file name on Windows, as the system
// keeps them; standard output and error carry the program's bytes unchanged.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.hpp"
#include "platform/windows/windows_api.hpp"

namespace platform {
namespace {

// The C runtime would turn every LF written to standard output into CR LF;
// the program's lines end in LF alone, as on every system it runs on.
[[maybe_unused]] const bool binary_output = [] {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return true;
}();

}  // namespace

std::string command_line() {
  const char* line = GetCommandLineA();
  return line ? line : "";
}

std::string program_file_name() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return param_str(0);
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);  // cut off: try a larger buffer
  }
}

}  // namespace platform
