// Starting programs, waiting for their end, and background programs whose
// output lines a test follows.
#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testing_support {
namespace {

using clock_type = std::chrono::steady_clock;

long long milliseconds_left(clock_type::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now())
      .count();
}

// Appends what the pipe holds to `pending`; at its end closes it and sets the
// descriptor to -1. Gives whether the pipe is still open.
bool read_some(int& fd, std::string& pending) {
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n <= 0) {
    ::close(fd);
    fd = -1;
    return false;
  }
  pending.append(buffer, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

int start_program(const std::vector<std::string>& command, int& out_fd, const child_setup& setup) {
  std::vector<char*> argv;
  for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  int out_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out_pipe[1], 1);
    if (setup.err_fd >= 0) ::dup2(setup.err_fd, 2);
    if (!setup.cwd.empty() && ::chdir(setup.cwd.c_str()) != 0) ::_exit(127);
    for (const auto& name : setup.unset_env) ::unsetenv(name.c_str());
    for (const auto& [name, value] : setup.set_env) ::setenv(name.c_str(), value.c_str(), 1);
    if (setup.file_size_limit >= 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
      const rlimit limit{static_cast<rlim_t>(setup.file_size_limit),
                         static_cast<rlim_t>(setup.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  out_fd = out_pipe[0];
  return pid;
}

std::optional<int> wait_for_end(int pid, clock_type::time_point deadline,
                                const std::function<void(int)>& between) {
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    const long long left = milliseconds_left(deadline);
    if (left <= 0) return std::nullopt;
    const int step = static_cast<int>(std::min<long long>(left, 5));
    if (between)
      between(step);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(step));
  }
}

child_process::child_process(const std::string& program, const std::vector<std::string>& args,
                             const std::string& cwd, int err_fd) {
  std::vector<std::string> command{program};
  command.insert(command.end(), args.begin(), args.end());
  child_setup setup;
  setup.cwd = cwd;
  setup.err_fd = err_fd;
  pid_ = start_program(command, out_fd_, setup);
  running_ = true;
}

child_process::~child_process() {
  kill();
  if (out_fd_ >= 0) ::close(out_fd_);
}

bool child_process::read_line(std::string& line, int timeout_ms) {
  const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    if (out_fd_ < 0) return false;
    const long long left = milliseconds_left(deadline);
    if (left <= 0) return false;
    pollfd fd{out_fd_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    read_some(out_fd_, pending_);
  }
}

std::string child_process::take_output() {
  while (out_fd_ >= 0) {
    pollfd fd{out_fd_, POLLIN, 0};
    if (::poll(&fd, 1, 0) <= 0 || !read_some(out_fd_, pending_)) break;
  }
  std::string output;
  output.swap(pending_);
  return output;
}

bool child_process::reap(bool block) {
  if (!running_) return true;
  int status = 0;
  if (::waitpid(pid_, &status, block ? 0 : WNOHANG) != pid_) return false;
  status_ = status;
  running_ = false;
  return true;
}

void child_process::signal(int signal_number) {
  if (!reap(false)) ::kill(pid_, signal_number);
}

void child_process::kill(int signal_number) {
  if (reap(false)) return;
  ::kill(pid_, signal_number);
  killed_ = true;
  reap(true);
}

int child_process::wait(int timeout_seconds) {
  if (running_) {
    const auto status =
        wait_for_end(pid_, clock_type::now() + std::chrono::seconds(timeout_seconds));
    if (!status) {
      kill();
      return -1;
    }
    status_ = *status;
    running_ = false;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

}  // namespace testing_support
