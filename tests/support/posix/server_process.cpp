// Background server processes for the end-to-end suites.
#include "tests/support/server_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.hpp"

namespace testing_support {
namespace {

using clock_type = std::chrono::steady_clock;

int milliseconds_left(clock_type::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

}  // namespace

server_process::server_process(const std::string& program, const std::vector<std::string>& args,
                               int timeout_seconds) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/quorvel-server-err-XXXXXX";
  const int err_fd = ::mkstemp(pattern.data());
  if (err_fd < 0) throw std::runtime_error("mkstemp failed");
  err_path_ = pattern;
  pid_ = start_program(program, args, out_fd_, "", err_fd);
  ::close(err_fd);

  const auto deadline = clock_type::now() + std::chrono::seconds(timeout_seconds);
  std::string received;
  while (received.find('\n') == std::string::npos) {
    pollfd fd{out_fd_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, milliseconds_left(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    char buffer[256];
    const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
    if (n <= 0) return;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  const auto newline = received.find('\n');
  first_line_ = received.substr(0, newline);
  rest_ = received.substr(newline + 1);
  if (first_line_.empty() || first_line_.size() > 5 ||
      first_line_.find_first_not_of("0123456789") != std::string::npos)
    return;
  const long port = std::strtol(first_line_.c_str(), nullptr, 10);
  if (port > 0 && port < 65536) port_ = static_cast<std::uint16_t>(port);
}

server_process::~server_process() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_fd_ >= 0) ::close(out_fd_);
  if (!err_path_.empty()) ::unlink(err_path_.c_str());
}

int server_process::stop(int signal_number, int timeout_seconds) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, signal_number);
  const auto deadline = clock_type::now() + std::chrono::seconds(timeout_seconds);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (milliseconds_left(deadline) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -2;
}

std::string server_process::err() const {
  std::ifstream in(err_path_, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

std::string server_process::out() {
  if (out_fd_ < 0) return rest_;
  // Only what is there now; after stop() the pipe ends and this is all of it.
  for (;;) {
    pollfd fd{out_fd_, POLLIN, 0};
    if (::poll(&fd, 1, 0) <= 0) break;
    char buffer[4096];
    const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    rest_.append(buffer, static_cast<std::size_t>(n));
  }
  return rest_;
}

}  // namespace testing_support
