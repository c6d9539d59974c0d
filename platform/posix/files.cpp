// The file stand-ins on POSIX: the existence test, the directory enumeration
// and appending to a file, with errno mapped to the original's error numbers.
#include "platform/private/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "platform/posix/path_mapping.hpp"

namespace platform {
namespace {

using detail::set_last_error;

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

class directory_find final : public find_state {
 public:
  directory_find(DIR* dir, std::string wildcard) : dir_(dir), wildcard_(std::move(wildcard)) {}
  ~directory_find() override { ::closedir(dir_); }
  directory_find(const directory_find&) = delete;
  directory_find& operator=(const directory_find&) = delete;

  bool next(find_data& data) override {
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir_);
      if (!entry) {
        set_last_error(errno == 0 ? error_no_more_files : error_from_errno(errno));
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
      set_last_error(error_success);
      return true;
    }
  }

 private:
  DIR* dir_;
  std::string wildcard_;
};

bool file_exists(std::string_view library_path) {
  const posix::mapped_path mapped = posix::map_path(library_path);
  if (detail::waiting_write_named(mapped.path)) {
    set_last_error(error_success);
    return true;
  }
  if (mapped.missing) {  // the mapping has just looked: no need to ask again
    set_last_error(error_file_not_found);
    return false;
  }
  struct stat info = mapped.info;
  if (!mapped.probed || S_ISLNK(info.st_mode)) {  // a link is followed
    if (mapped.path.empty()) errno = ENOENT;
    if (mapped.path.empty() || ::stat(mapped.path.c_str(), &info) != 0) {
      set_last_error(error_from_errno(errno));
      return false;
    }
  }
  set_last_error(error_success);
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
    set_last_error(errno == ENOENT ? error_path_not_found : error_from_errno(errno));
    return invalid_find_handle;
  }
  auto* state = new directory_find(dir, wildcard);
  if (state->next(data)) return state;
  if (get_last_error() == error_no_more_files) set_last_error(error_file_not_found);
  delete state;
  return invalid_find_handle;
}

// Appending to a file.
bool detail::append_to_host_file(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool complete = true;
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      complete = false;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && complete;
}

}  // namespace platform
