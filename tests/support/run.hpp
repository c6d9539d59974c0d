// Runs a built program and collects its exit code and output, for the
// end-to-end suites.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct run_result {
  int exit_code = -1;     // the exit code, or -1 when the program did not exit
  std::string out;        // standard output
  std::string err;        // standard error
};

struct run_options {
  std::string cwd;                                  // empty: inherit
  std::map<std::string, std::string> set_env;       // added or replaced
  std::vector<std::string> unset_env;
  int timeout_seconds = 120;                        // the program is killed after this
  long file_size_limit = -1;  // bytes a file may grow to (writes beyond fail); -1: no limit
};

// Options that run the program in the directory `cwd`.
inline run_options in_dir(std::string cwd) {
  run_options options;
  options.cwd = std::move(cwd);
  return options;
}

// Runs `program` with `args` (argv[1..]) and waits for it.
run_result run(const std::string& program, const std::vector<std::string>& args,
               const run_options& options = {});

// A fresh, empty directory under the system's temporary directory; removed
// with everything in it when the object goes.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole file contents ("" when it cannot be read), and whether a file exists.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);
bool file_exists(const std::string& path);
// The lines of a text, split at CR LF, LF or CR (as the program loads a
// body), without their ends; a last line without an end counts too.
std::vector<std::string> lines_of(const std::string& text);
// Names in a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string& path);
// The library's spelling of a host path: "\" between the names, all capitals.
std::string library_path(std::string host);

}  // namespace testing_support
