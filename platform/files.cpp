// The file-system stand-ins on POSIX: the path mapping, the existence test and
// the directory enumeration, with errno mapped to the original's error numbers.
#include "platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
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

// A library path as host path components: "\" as "/", no drive, and "." and
// ".." resolved on the text as the original file system resolves them, so a
// ".." after a component that does not exist still goes up.
struct path_text {
  bool empty = true;      // nothing but a drive, or nothing at all
  bool absolute = false;
  bool trailing = false;  // ends with a separator
  std::vector<std::string> parts;
};

path_text split_library_path(std::string_view library_path) {
  std::string path(library_path);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);

  path_text text;
  text.empty = path.empty();
  text.absolute = !path.empty() && path[0] == '/';
  text.trailing = path.size() > 1 && path.back() == '/';
  for (std::size_t start = 0; start < path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view part = std::string_view(path).substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      text.parts.emplace_back(part);
    } else if (!text.parts.empty() && text.parts.back() != "..") {
      text.parts.pop_back();
    } else if (!text.absolute) {
      text.parts.emplace_back(part);  // above the current directory
    }  // at the root ".." stays at the root
  }
  return text;
}

const char* open_name(const std::string& directory) {
  return directory.empty() ? "." : directory.c_str();
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
  const path_text text = split_library_path(library_path);
  if (text.empty) return "";
  if (text.parts.empty()) return text.absolute ? "/" : text.trailing ? "./" : ".";

  std::string result = text.absolute ? "/" : "";
  bool on_disk = true;  // every component so far exists
  for (std::size_t i = 0; i < text.parts.size(); ++i) {
    std::string part = text.parts[i];
    if (on_disk && part != "..") {
      if (!exists(result + part)) {
        std::string spelling;
        if (find_spelling(result, part, spelling))
          part = spelling;
        else
          on_disk = false;
      }
    }
    result += part;
    if (i + 1 < text.parts.size() || text.trailing) result += '/';
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

// Atomic whole-file writes.
namespace platform {
namespace {

bool named_temporary_files = false;

std::string reason(int number) { return std::strerror(number); }

[[noreturn]] void fail_create(std::string_view library_path, int number) {
  throw EFCreateError("Cannot create file \"" + std::string(library_path) + "\". " +
                      reason(number));
}

[[noreturn]] void fail_write(int number) {
  throw EWriteError("Stream write error. " + reason(number));
}

// Blocks the signals that end a program from the keyboard or a supervisor for
// as long as it lives; a signal that arrives meanwhile is delivered after.
class termination_signals_held {
 public:
  termination_signals_held() {
    sigset_t held;
    sigemptyset(&held);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, number);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~termination_signals_held() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  termination_signals_held(const termination_signals_held&) = delete;
  termination_signals_held& operator=(const termination_signals_held&) = delete;

 private:
  sigset_t previous_;
};

// The directory a file is written into, open for linking into it and for
// syncing it.
class target_directory {
 public:
  explicit target_directory(std::string path) : path_(std::move(path)) {
    fd_ = ::open(open_name(path_), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Without read permission the directory can still be written, not synced.
    if (fd_ < 0 && errno == EACCES) {
      fd_ = ::open(open_name(path_), O_PATH | O_DIRECTORY | O_CLOEXEC);
      syncable_ = false;
    }
  }
  ~target_directory() {
    if (fd_ >= 0) ::close(fd_);
  }
  target_directory(const target_directory&) = delete;
  target_directory& operator=(const target_directory&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  // Whether `name` is a file (a link to one counts).
  bool holds_file(const std::string& name) const {
    struct stat info;
    return ::fstatat(fd_, name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode);
  }

  // After `name` was made: syncs the directory, so that the name outlasts a
  // power cut. A failed sync removes the name again and raises EWriteError.
  void entry_made(const std::string& name) const {
    // A file system that cannot sync directories (EINVAL) keeps names by itself.
    if (syncable_ && ::fsync(fd_) != 0 && errno != EINVAL) {
      const int error = errno;
      ::unlinkat(fd_, name.c_str(), 0);
      fail_write(error);
    }
  }

 private:
  std::string path_;  // "" for the current directory, else ending in "/"
  int fd_ = -1;
  bool syncable_ = true;
};

void write_synced(int fd, std::string_view data) {
  for (std::size_t written = 0; written < data.size();) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail_write(n < 0 ? errno : EIO);
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) fail_write(errno);
}

// The unnamed way: nothing carries a name until the whole, synced file is
// linked to its own, so even a killed program leaves nothing behind. False
// when the file system or the entry in the way needs the named way.
bool write_unnamed(const target_directory& dir, const std::string& name, std::string_view data) {
  const int fd = ::openat(dir.fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct closer {
    int fd;
    ~closer() { ::close(fd); }
  } close_at_end{fd};
  write_synced(fd, data);
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), dir.fd(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    dir.entry_made(name);
    return true;
  }
  // Another run linked its whole file first: that one stays.
  return errno == EEXIST && dir.holds_file(name);
}

// The named way, where the file system offers no unnamed files (or no /proc
// to link them by): a hidden temporary file beside the target, removed on
// every failure. A kill or a power cut while it exists leaves it behind, as
// ".NAME.part-XXXXXX", which is never taken for the file itself.
void write_named(const target_directory& dir, const std::string& name, std::string_view data,
                 std::string_view library_path) {
  std::string path = dir.path() + "." + name + ".part-XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) fail_create(library_path, errno);
  struct temporary {
    int fd;
    int dir_fd;
    std::string leaf;
    ~temporary() {
      ::close(fd);
      if (!leaf.empty()) ::unlinkat(dir_fd, leaf.c_str(), 0);
    }
  } file{fd, dir.fd(), path.substr(dir.path().size())};
  const mode_t mask = ::umask(0);  // mkostemp makes 0600; give the usual mode
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  write_synced(fd, data);

  if (::linkat(dir.fd(), file.leaf.c_str(), dir.fd(), name.c_str(), 0) == 0) {
    ::unlinkat(dir.fd(), file.leaf.c_str(), 0);
    file.leaf.clear();
    dir.entry_made(name);
    return;
  }
  if (errno == EEXIST && dir.holds_file(name)) return;  // another run's whole file stays
  // No hard links on this file system, or an entry that is no file in the
  // way: the rename replaces it (a directory refuses).
  if (::renameat(dir.fd(), file.leaf.c_str(), dir.fd(), name.c_str()) != 0)
    fail_create(library_path, errno);
  file.leaf.clear();
  dir.entry_made(name);
}

}  // namespace

std::unique_ptr<Exception> EFCreateError::copy() const {
  return std::make_unique<EFCreateError>(*this);
}
void EFCreateError::raise() const { throw *this; }
std::unique_ptr<Exception> EWriteError::copy() const {
  return std::make_unique<EWriteError>(*this);
}
void EWriteError::raise() const { throw *this; }

void set_named_temporary_files(bool named) { named_temporary_files = named; }

void write_file_atomically(std::string_view library_path, std::string_view data) {
  const std::string target = host_path(library_path);
  const auto slash = target.find_last_of('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) fail_create(library_path, EISDIR);

  termination_signals_held held;
  const target_directory dir(slash == std::string::npos ? "" : target.substr(0, slash + 1));
  if (dir.fd() < 0) fail_create(library_path, errno);
  if (!named_temporary_files && write_unnamed(dir, name, data)) return;
  write_named(dir, name, data, library_path);
}

}  // namespace platform
