// Background programs whose output lines a test follows.
#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace testing_support {

int start_program(const std::string& program, const std::vector<std::string>& args, int& out_fd,
                  const std::string& cwd, int err_fd) {
  int out_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out_pipe[1], 1);
    if (err_fd >= 0) ::dup2(err_fd, 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  out_fd = out_pipe[0];
  return pid;
}

child_process::child_process(const std::string& program, const std::vector<std::string>& args,
                             const std::string& cwd) {
  pid_ = start_program(program, args, out_fd_, cwd);
  running_ = true;
}

child_process::~child_process() {
  kill();
  if (out_fd_ >= 0) ::close(out_fd_);
}

bool child_process::read_line(std::string& line, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    if (out_fd_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    pollfd fd{out_fd_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
    if (n <= 0) {
      ::close(out_fd_);
      out_fd_ = -1;
      continue;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool child_process::reap(bool block) {
  if (!running_) return true;
  int status = 0;
  if (::waitpid(pid_, &status, block ? 0 : WNOHANG) != pid_) return false;
  status_ = status;
  running_ = false;
  return true;
}

void child_process::kill(int signal_number) {
  if (reap(false)) return;
  ::kill(pid_, signal_number);
  killed_ = true;
  reap(true);
}

int child_process::wait(int timeout_seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  while (!reap(false)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

}  // namespace testing_support
