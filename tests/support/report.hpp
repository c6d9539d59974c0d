// What the built quorvel prints, for the end-to-end suites: its banner and the
// top-level report of an error, with the one part that differs between builds
// (the code address) masked.
#pragma once

#include <regex>
#include <string>

namespace testing_support {

inline const std::string banner = "Quorvel V1.0   (c) 2026 the quorvel developers\n\n";

// The context suffix of every error raised in the main program.
inline const std::string main_task = "/task_nr=0/task_name=\"Main program\"";

// The top-level report of a te_ with the given message, from the program
// whose file is named `module`.
inline std::string report(const std::string& message, const std::string& module = "quorvel") {
  return "Exception te_ in module " + module + " at ################.\n" + message + ".\n";
}

// The output with the code address of a report masked, and the program's
// file named without the ".exe" it has on Windows.
inline std::string masked(const std::string& out) {
  static const std::regex address(" at [0-9A-F]{16}\\.\n");
  static const std::regex exe(" in module ([^ ]+)\\.exe at ");
  return std::regex_replace(std::regex_replace(out, address, " at ################.\n"), exe,
                            " in module $1 at ");
}

}  // namespace testing_support
