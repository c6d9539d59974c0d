// A program started in the background whose standard output a test reads
// line by line while it runs, and which the test can kill at any moment.
#pragma once

#include <csignal>
#include <string>
#include <vector>

namespace testing_support {

// Starts `program` with `args` (argv[1..]) in `cwd` (empty: the caller's
// directory), its standard output into a new pipe whose reading end is put in
// `out_fd`, its standard error to `err_fd` (-1: the caller's). The process id.
int start_program(const std::string& program, const std::vector<std::string>& args, int& out_fd,
                  const std::string& cwd = "", int err_fd = -1);

class child_process {
 public:
  // Starts `program` with `args` (argv[1..]) in the directory `cwd` (empty:
  // the test's own); standard error goes where the test's goes.
  child_process(const std::string& program, const std::vector<std::string>& args,
                const std::string& cwd = "");
  // Kills the program if it still runs.
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  // The next line of standard output, without its line end; false at the end
  // of the output or when none came within timeout_ms.
  bool read_line(std::string& line, int timeout_ms = 60000);

  // Sends the signal and waits for the end.
  void kill(int signal_number = SIGKILL);
  // Waits at most timeout_seconds for the end: the exit code; -1 when a signal
  // ended the program, or when it did not end in time (it is killed then).
  int wait(int timeout_seconds = 120);
  // Whether the program had ended by itself when kill() was called.
  bool ended_by_itself() const { return !running_ && !killed_; }

 private:
  bool reap(bool block);  // true once the program has ended

  int pid_ = -1;
  int out_fd_ = -1;
  int status_ = 0;
  bool running_ = false;
  bool killed_ = false;
  std::string pending_;  // read but not yet given out
};

}  // namespace testing_support
