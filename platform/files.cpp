// The file-system stand-ins on POSIX: the path mapping, the existence test and
// the directory enumeration, with errno mapped to the original's error numbers.
#include "platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

namespace platform {
namespace {

thread_local std::uint32_t last_error = error_success;

// The one place that turns errno into the error numbers the callers test.
std::uint32_t error_from_errno(int number) {
  switch (number) {
    case 0:
      return error_success;
    case ENOENT:
      return error_file_not_found;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return error_path_not_found;
    case EMFILE:
    case ENFILE:
      return error_too_many_open_files;
    case EACCES:
    case EPERM:
      return error_access_denied;
    case ENOMEM:
      return error_not_enough_memory;
    default:
      return error_gen_failure;
  }
}

bool exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

// The spelling of `name` in `directory` ignoring case: the smallest of the
// matching names, so that the choice does not depend on the order of readdir.
bool find_spelling(const std::string& directory, const std::string& name, std::string& spelling) {
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view candidate(entry->d_name);
    if (::strcasecmp(entry->d_name, name.c_str()) != 0) continue;  // ASCII: no locale is set
    if (!found || candidate < spelling) spelling = std::string(candidate);
    found = true;
  }
  ::closedir(dir);
  return found;
}

// Packs a time into the two-second resolution of file dates, in local time;
// times outside 1980..2107 are clamped to that range.
void pack_time(std::time_t when, std::uint16_t& date, std::uint16_t& time) {
  std::tm parts{};
  if (!::localtime_r(&when, &parts) || parts.tm_year < 80) {
    date = (1 << 5) | 1;  // 1980-01-01
    time = 0;
    return;
  }
  if (parts.tm_year > 207) {
    date = static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
    time = static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29);
    return;
  }
  date = static_cast<std::uint16_t>(((parts.tm_year - 80) << 9) | ((parts.tm_mon + 1) << 5) |
                                    parts.tm_mday);
  const int seconds = parts.tm_sec > 59 ? 59 : parts.tm_sec;  // a leap second
  time = static_cast<std::uint16_t>((parts.tm_hour << 11) | (parts.tm_min << 5) | (seconds / 2));
}

bool matches(const std::string& wildcard, const char* name) {
  if (wildcard == "*" || wildcard == "*.*") return true;
  return ::fnmatch(wildcard.c_str(), name, FNM_CASEFOLD | FNM_NOESCAPE) == 0;
}

}  // namespace

class find_state {
 public:
  find_state(DIR* dir, std::string wildcard) : dir_(dir), wildcard_(std::move(wildcard)) {}
  ~find_state() { ::closedir(dir_); }
  find_state(const find_state&) = delete;
  find_state& operator=(const find_state&) = delete;

  // The next matching entry; false at the end with the last error set.
  bool next(find_data& data) {
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir_);
      if (!entry) {
        last_error = errno == 0 ? error_no_more_files : error_from_errno(errno);
        return false;
      }
      if (!matches(wildcard_, entry->d_name)) continue;
      struct stat info;
      if (::fstatat(::dirfd(dir_), entry->d_name, &info, 0) != 0 &&
          ::fstatat(::dirfd(dir_), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        continue;  // vanished since readdir named it
      data.name = entry->d_name;
      data.attributes = 0;
      if (S_ISDIR(info.st_mode)) data.attributes |= file_attribute_directory;
      if (S_ISREG(info.st_mode)) data.attributes |= file_attribute_archive;
      if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        data.attributes |= file_attribute_readonly;
      data.size = static_cast<std::uint64_t>(info.st_size);
      pack_time(info.st_mtime, data.write_date, data.write_time);
      last_error = error_success;
      return true;
    }
  }

 private:
  DIR* dir_;
  std::string wildcard_;
};

std::uint32_t get_last_error() { return last_error; }

std::string host_path(std::string_view library_path) {
  std::string path(library_path);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);

  const bool absolute = !path.empty() && path[0] == '/';
  const bool trailing = path.size() > 1 && path.back() == '/';
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= path.size();) {
    auto end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }

  std::string result = absolute ? "/" : "";
  bool on_disk = true;  // every component so far exists
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::string part = parts[i];
    if (on_disk && part != "." && part != "..") {
      if (!exists(result + part)) {
        std::string spelling;
        if (find_spelling(result, part, spelling))
          part = spelling;
        else
          on_disk = false;
      }
    }
    result += part;
    if (i + 1 < parts.size() || trailing) result += '/';
  }
  return result;
}

bool file_exists(std::string_view library_path) {
  struct stat info;
  const std::string path = host_path(library_path);
  if (path.empty() || ::stat(path.c_str(), &info) != 0) {
    last_error = error_from_errno(errno);
    return false;
  }
  last_error = error_success;
  return !S_ISDIR(info.st_mode);
}

find_handle find_first_file(std::string_view pattern, find_data& data) {
  std::string text(pattern);
  for (char& c : text)
    if (c == '\\') c = '/';
  const auto slash = text.find_last_of('/');
  std::string directory;
  std::string wildcard = text;
  if (slash != std::string::npos) {
    directory = host_path(std::string_view(pattern).substr(0, slash + 1));
    wildcard = text.substr(slash + 1);
  } else if (text.size() >= 2 && text[1] == ':') {
    wildcard = text.substr(2);  // "C:*.*": the current directory
  }
  if (directory.empty()) directory = ".";

  DIR* dir = ::opendir(directory.c_str());
  if (!dir) {
    last_error = errno == ENOENT ? error_path_not_found : error_from_errno(errno);
    return invalid_find_handle;
  }
  auto* state = new find_state(dir, wildcard);
  if (state->next(data)) return state;
  if (last_error == error_no_more_files) last_error = error_file_not_found;
  delete state;
  return invalid_find_handle;
}

bool find_next_file(find_handle handle, find_data& data) {
  if (handle == invalid_find_handle) {
    last_error = error_gen_failure;
    return false;
  }
  return handle->next(data);
}

void find_close(find_handle handle) { delete handle; }

}  // namespace platform
