// Background server processes for the end-to-end suites.
#include "tests/support/server_process.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/run.hpp"

namespace testing_support {

server_process::server_process(const std::string& program, const std::vector<std::string>& args,
                               int timeout_seconds) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/quorvel-server-err-XXXXXX";
  const int err_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (err_fd < 0) throw std::runtime_error("mkstemp failed");
  err_path_ = pattern;
  child_ = std::make_unique<child_process>(program, args, "", err_fd);
  ::close(err_fd);

  if (!child_->read_line(first_line_, timeout_seconds * 1000)) return;
  if (first_line_.empty() || first_line_.size() > 5 ||
      first_line_.find_first_not_of("0123456789") != std::string::npos)
    return;
  const long port = std::strtol(first_line_.c_str(), nullptr, 10);
  if (port > 0 && port < 65536) port_ = static_cast<std::uint16_t>(port);
}

server_process::~server_process() {
  child_.reset();  // killed if it still runs
  if (!err_path_.empty()) ::unlink(err_path_.c_str());
}

int server_process::stop(int signal_number, int timeout_seconds) {
  if (stopped_) return -1;
  stopped_ = true;
  child_->signal(signal_number);
  const int code = child_->wait(timeout_seconds);
  if (code >= 0) return code;
  return child_->ended_by_itself() ? -2 : -1;
}

std::string server_process::err() const { return read_file(err_path_); }

std::string server_process::out() {
  // Only what is there now; after stop() the pipe ends and this is all of it.
  rest_ += child_->take_output();
  return rest_;
}

}  // namespace testing_support
