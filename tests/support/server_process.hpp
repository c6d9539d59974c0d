// Runs a server program in the background for the end-to-end suites: reads
// the port it prints on its first line, and stops it with a signal.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.hpp"

namespace testing_support {

class server_process {
 public:
  // Starts `program` with `args` and waits (at most timeout_seconds) for the
  // first line of its standard output, which must be the port number.
  server_process(const std::string& program, const std::vector<std::string>& args,
                 int timeout_seconds = 60);
  // Kills the program if it still runs.
  ~server_process();
  server_process(const server_process&) = delete;
  server_process& operator=(const server_process&) = delete;

  // Whether the first line was a port number; port() is that port, else 0.
  bool started() const { return port_ != 0; }
  std::uint16_t port() const { return port_; }
  const std::string& first_line() const { return first_line_; }

  // Sends the signal and waits at most timeout_seconds for the program to end:
  // its exit code, -1 when it did not exit by itself (it is killed then), -2
  // when it ended by a signal.
  int stop(int signal_number = SIGTERM, int timeout_seconds = 60);

  // Standard error so far, and standard output after the first line (complete
  // once stopped).
  std::string err() const;
  std::string out();

 private:
  std::string err_path_;  // standard error goes to this file
  std::unique_ptr<child_process> child_;
  bool stopped_ = false;
  std::string first_line_;
  std::string rest_;
  std::uint16_t port_ = 0;
};

}  // namespace testing_support
