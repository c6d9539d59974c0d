// The file system on Windows: the library's paths are the system's own, the
// enumeration is FindFirstFileA/FindNextFileA with the system's attributes,
// file times and last-error numbers, and a whole-file write goes through a
// temporary file that MoveFileExA puts in place.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/private/files.hpp"
#include "platform/windows/windows_api.hpp"
#include "platform/test_hooks.hpp"

namespace platform {
namespace {

using detail::set_last_error;

std::uint32_t fail(std::uint32_t error) {
  set_last_error(error);
  return error;
}

void fill(const WIN32_FIND_DATAA& found, find_data& data) {
  data.attributes = found.dwFileAttributes & 0xFFu;
  data.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  data.name = found.cFileName;
  // Packed file dates count from 1980 in local time; earlier times read as
  // its first day, as the file system itself reports them.
  FILETIME local{};
  WORD date = (1 << 5) | 1;
  WORD time = 0;
  if (!FileTimeToLocalFileTime(&found.ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time)) {
    date = (1 << 5) | 1;
    time = 0;
  }
  data.write_date = date;
  data.write_time = time;
}

}  // namespace

class directory_find final : public find_state {
 public:
  explicit directory_find(HANDLE handle) : handle_(handle) {}
  ~directory_find() override { FindClose(handle_); }
  directory_find(const directory_find&) = delete;
  directory_find& operator=(const directory_find&) = delete;

  bool next(find_data& data) override {
    WIN32_FIND_DATAA found{};
    if (!FindNextFileA(handle_, &found)) {
      fail(GetLastError());
      return false;
    }
    fill(found, data);
    set_last_error(error_success);
    return true;
  }

 private:
  HANDLE handle_;
};

std::string host_path(std::string_view library_path) { return std::string(library_path); }

// The paths are the system's own: no directory is ever read to map a name.
std::uint64_t test_hooks::directory_reads() { return 0; }
void test_hooks::set_directory_settle_time(std::chrono::nanoseconds) {}

bool file_exists(std::string_view library_path) {
  const std::string path(library_path);
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    fail(path.empty() ? error_file_not_found : GetLastError());
    return false;
  }
  set_last_error(error_success);
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

find_handle find_first_file(std::string_view pattern, find_data& data) {
  WIN32_FIND_DATAA found{};
  const HANDLE handle = FindFirstFileA(std::string(pattern).c_str(), &found);
  if (handle == INVALID_HANDLE_VALUE) {
    fail(GetLastError());
    return invalid_find_handle;
  }
  fill(found, data);
  set_last_error(error_success);
  return new directory_find(handle);
}

}  // namespace platform

// Atomic whole-file writes.
namespace platform {
namespace {

// The temporary files of this layer end so; a later write into the same
// directory removes those that a killed run left behind.
constexpr const char* temporary_suffix = ".quorvel-part";

std::string reason(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string result = length > 0 && text ? std::string(text, length) : "";
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' ||
                             result.back() == '.'))
    result.pop_back();
  if (result.empty()) result = "System error " + std::to_string(error);
  return result;
}

[[noreturn]] void fail_create(std::string_view library_path, DWORD error) {
  detail::raise_create_error(library_path, reason(error));
}

[[noreturn]] void fail_write(DWORD error) { detail::raise_write_error(reason(error)); }

// The process that made a temporary file: its name is "." NAME "." PID "-" N
// and the suffix. 0 when the name is not of that form.
DWORD maker_of(std::string_view file) {
  file.remove_suffix(std::string_view(temporary_suffix).size());
  const auto dot = file.find_last_of('.');
  const auto dash = file.find_last_of('-');
  if (dot == std::string_view::npos || dash == std::string_view::npos || dash < dot) return 0;
  const std::string digits(file.substr(dot + 1, dash - dot - 1));
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 10));
}

bool process_runs(DWORD id) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return runs;
}

// Removes the temporary files that runs which have ended (killed, or the
// machine went down) left in the directory. Files of a process that still
// runs stay: it may be about to put them in place.
void remove_leftovers(const std::string& directory) {
  WIN32_FIND_DATAA found{};
  const std::string pattern = directory + "*" + temporary_suffix;
  const HANDLE handle = FindFirstFileA(pattern.c_str(), &found);
  if (handle == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const DWORD maker = maker_of(found.cFileName);
    if (maker == 0 || maker == GetCurrentProcessId() || process_runs(maker)) continue;
    DeleteFileA((directory + found.cFileName).c_str());
  } while (FindNextFileA(handle, &found));
  FindClose(handle);
}

// The temporary file beside the target, named after it and this process, not
// shared with anyone while it is written, and removed unless it has been put
// in place.
class temporary_file {
 public:
  temporary_file(const std::string& directory, const std::string& name) {
    const std::string stem =
        directory + "." + name + "." + std::to_string(GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string candidate = stem + std::to_string(attempt) + temporary_suffix;
      handle_ = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle_ != INVALID_HANDLE_VALUE) {
        path_ = candidate;
        return;
      }
      if (GetLastError() != ERROR_FILE_EXISTS) return;
    }
  }
  ~temporary_file() {
    close();
    if (!path_.empty()) DeleteFileA(path_.c_str());
  }
  temporary_file(const temporary_file&) = delete;
  temporary_file& operator=(const temporary_file&) = delete;

  HANDLE handle() const { return handle_; }

  bool close() {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

  // Puts the closed file in place under `target`. A file of that name that is
  // already there is whole (every writer puts its files in place this way)
  // and stays: another run wrote the same strip first.
  bool commit(const std::string& target) {
    if (MoveFileExA(path_.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
      path_.clear();
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return true;  // the temporary file goes with this object
    SetLastError(error);
    return false;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::string path_;
};

}  // namespace

// Windows has named temporary files only.
void test_hooks::set_named_temporary_files(bool) {}

// MOVEFILE_WRITE_THROUGH has made each name durable already.
bool sync_written_directories() noexcept { return true; }

std::size_t test_hooks::directories_to_sync() { return 0; }

bool detail::append_to_host_file(const std::string& path, std::string_view text) {
  const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool complete = true;
  for (std::size_t written = 0; written < text.size();) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - written, 1u << 20));
    if (!WriteFile(file, text.data() + written, chunk, &n, nullptr) || n == 0) {
      complete = false;
      break;
    }
    written += n;
  }
  return CloseHandle(file) && complete;
}

// Each write is named at once: a group is one write long here.
void write_file_in_group(std::string_view library_path, std::string_view data) {
  write_file_atomically(library_path, data);
}

void name_written_files() {}

void write_file_atomically(std::string_view library_path, std::string_view data) {
  const std::string target(library_path);
  const auto separator = target.find_last_of("\\/:");
  const std::string directory = separator == std::string::npos ? "" : target.substr(0, separator + 1);
  const std::string name = separator == std::string::npos ? target : target.substr(separator + 1);
  if (name.empty()) fail_create(library_path, ERROR_INVALID_NAME);

  remove_leftovers(directory);
  temporary_file file(directory, name);
  if (file.handle() == INVALID_HANDLE_VALUE) fail_create(library_path, GetLastError());
  for (std::size_t written = 0; written < data.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - written, 1 << 20));
    DWORD count = 0;
    if (!WriteFile(file.handle(), data.data() + written, chunk, &count, nullptr))
      fail_write(GetLastError());
    if (count == 0) fail_write(ERROR_WRITE_FAULT);
    written += count;
  }
  if (!FlushFileBuffers(file.handle())) fail_write(GetLastError());
  if (!file.close()) fail_write(GetLastError());
  if (!file.commit(target)) fail_create(library_path, GetLastError());
}

}  // namespace platform
