// Process runner and temporary directories for the end-to-end suites on
// POSIX: the program started as every child is, its standard output and
// error read from pipes while it runs.
#include "tests/support/run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "tests/support/child_process.hpp"

namespace testing_support {
namespace {

// The words that start `program`. A command in the environment runs in
// place of the built quorvel (QUORVEL_COMMAND), so that the suites test
// another build of it: "wine PATH/quorvel.exe", words split at blanks.
std::vector<std::string> command_words(const std::string& program) {
  const std::string name = std::filesystem::path(program).filename().string();
  const char* command = name == "quorvel" ? std::getenv("QUORVEL_COMMAND") : nullptr;
  if (!command) return {program};
  std::istringstream split(command);
  std::vector<std::string> words(std::istream_iterator<std::string>(split), {});
  if (words.empty()) return {program};
  return words;
}

}  // namespace

run_result run(const std::string& program, const std::vector<std::string>& args,
               const run_options& options) {
  std::vector<std::string> command = command_words(program);
  command.insert(command.end(), args.begin(), args.end());
  int err_pipe[2];
  if (pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  child_setup setup{options.cwd, err_pipe[1], options.set_env, options.unset_env,
                    options.file_size_limit};
  int out_fd = -1;
  const int pid = start_program(command, out_fd, setup);
  close(err_pipe[1]);
  run_result result;
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  // Reads what the pipes hold, waiting up to wait_ms for the first of it.
  const auto read_pipes = [&](int wait_ms) {
    if (poll(fds, 2, wait_ms) <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
    return true;
  };
  // The pipes are read until the program has ended, then to their end as far
  // as it has come: a process that the program starts may hold them open for
  // longer (Wine starts its services so), and their end would never come.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  auto status = wait_for_end(pid, deadline, read_pipes);
  const bool killed = !status;
  if (killed) {
    kill(pid, SIGKILL);
    int killed_status = 0;
    waitpid(pid, &killed_status, 0);
  } else {
    while (open_count > 0 && read_pipes(0)) {
    }
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  if (!killed && WIFEXITED(*status)) result.exit_code = WEXITSTATUS(*status);
  if (killed) result.err += "[killed after " + std::to_string(options.timeout_seconds) + " s]\n";
  return result;
}

temp_dir::temp_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/quorvel-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

}  // namespace testing_support
