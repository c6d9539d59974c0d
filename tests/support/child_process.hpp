// Starting programs on POSIX: the one way the helpers start a child and wait
// for its end, and a program in the background whose standard output a test
// reads line by line while it runs, and which the test can kill at any moment.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// What a child gets besides its command line.
struct child_setup {
  std::string cwd;                              // empty: the caller's directory
  int err_fd = -1;                              // standard error; -1: the caller's
  std::map<std::string, std::string> set_env;   // added or replaced
  std::vector<std::string> unset_env;
  long file_size_limit = -1;  // bytes a file may grow to (writes beyond fail); -1: no limit
};

// Starts command[0] (a path, or a name looked up on PATH) with command[1..]
// as its arguments, its standard output into a new pipe whose reading end is
// put in `out_fd`. The process id.
int start_program(const std::vector<std::string>& command, int& out_fd,
                  const child_setup& setup = {});

// Waits until the child `pid` has ended (its wait status) or `deadline` has
// passed (nothing; the child still runs). Between looks, `between` (when
// given) spends at most the milliseconds it is handed, reading the child's
// pipes, say; else a short sleep.
std::optional<int> wait_for_end(int pid, std::chrono::steady_clock::time_point deadline,
                                const std::function<void(int)>& between = {});

class child_process {
 public:
  // Starts `program` with `args` (argv[1..]) in the directory `cwd` (empty:
  // the test's own); standard error goes to `err_fd` (-1: where the test's goes).
  child_process(const std::string& program, const std::vector<std::string>& args,
                const std::string& cwd = "", int err_fd = -1);
  // Kills the program if it still runs.
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  // The next line of standard output, without its line end; false at the end
  // of the output or when none came within timeout_ms.
  bool read_line(std::string& line, int timeout_ms = 60000);
  // What standard output holds beyond the lines read, as far as it has come
  // now; taken, so that the next call gives only what came after.
  std::string take_output();

  // Sends the signal, unless the program has ended, and does not wait.
  void signal(int signal_number);
  // Sends the signal and waits for the end.
  void kill(int signal_number = SIGKILL);
  // Waits at most timeout_seconds for the end: the exit code; -1 when a signal
  // ended the program, or when it did not end in time (it is killed then).
  int wait(int timeout_seconds = 120);
  bool running() { return !reap(false); }
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
