// Process runner and temporary directories for the end-to-end suites on
// POSIX: fork and exec with the standard output and error on pipes.
#include "tests/support/run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

// The words that start `program`. A command in the environment runs in
// place of the built quorvel (QUORVEL_COMMAND) or of the quorvel with the
// short time limit (QUORVEL_SHORT_LIMIT_COMMAND), so that the suites test
// another build of it: "wine PATH/quorvel.exe", words split at blanks.
std::vector<std::string> command_words(const std::string& program) {
  const std::string name = std::filesystem::path(program).filename().string();
  const char* command = name == "quorvel"            ? std::getenv("QUORVEL_COMMAND")
                        : name == "short_limit_prog" ? std::getenv("QUORVEL_SHORT_LIMIT_COMMAND")
                                                     : nullptr;
  if (!command) return {program};
  std::istringstream split(command);
  std::vector<std::string> words(std::istream_iterator<std::string>(split), {});
  if (words.empty()) return {program};
  return words;
}

}  // namespace

run_result run(const std::string& program, const std::vector<std::string>& args,
               const run_options& options) {
  std::vector<std::string> words = command_words(program);
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(127);
    for (const auto& name : options.unset_env) unsetenv(name.c_str());
    for (const auto& [name, value] : options.set_env) setenv(name.c_str(), value.c_str(), 1);
    if (options.file_size_limit >= 0) {
      signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
      rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                   static_cast<rlim_t>(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  run_result result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  int open_count = 2;
  bool killed = false;
  bool reaped = false;
  int status = 0;
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
  // The pipes are read to their end or until the program has ended: a process
  // that the program starts may hold them open for longer (Wine starts its
  // services so), and their end would never come.
  while (open_count > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    read_pipes(static_cast<int>(std::min<long long>(left.count(), 100)));
    if (waitpid(pid, &status, WNOHANG) == pid) {
      reaped = true;
      while (open_count > 0 && read_pipes(0)) {
      }
      break;
    }
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  if (!reaped) waitpid(pid, &status, 0);
  if (!killed && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
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
