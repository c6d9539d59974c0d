// Atomic whole-file writes on POSIX: an unnamed temporary file linked to its
// name once whole and synced, or a hidden named one where the file system has
// no unnamed files; the directories written into are synced once per run.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/private/files.hpp"
#include "platform/posix/path_mapping.hpp"
#include "platform/test_hooks.hpp"

namespace platform {
namespace {

using posix::dir_identity;
using posix::identity_of;
using posix::open_name;

bool named_temporary_files = false;

std::string reason(int number) { return std::strerror(number); }

[[noreturn]] void fail_create(std::string_view library_path, int number) {
  detail::raise_create_error(library_path, reason(number));
}

[[noreturn]] void fail_write(int number) { detail::raise_write_error(reason(number)); }

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

// Directories that have new names not yet synced, each open under its own
// descriptor, so that the sync reaches the directory written into even if its
// path names another one by then.
class unsynced_directories {
 public:
  // One call the first time in a run that a directory gets a new name.
  void add(int fd, const dir_identity& identity) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const waiting& known : waiting_)
      if (known.device == identity.device && known.inode == identity.inode) return;
    waiting_.reserve(waiting_.size() + 1);
    const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept >= 0) waiting_.push_back({identity.device, identity.inode, kept});
  }

  bool sync() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t left = 0;  // those whose sync failed, kept for the next call
    for (const waiting& known : waiting_) {
      // A file system that cannot sync directories (EINVAL) keeps names by itself.
      if (::fsync(known.fd) != 0 && errno != EINVAL) {
        waiting_[left++] = known;
        continue;
      }
      ::close(known.fd);
    }
    waiting_.resize(left);
    return left == 0;
  }

  std::size_t size() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return waiting_.size();
  }

 private:
  struct waiting {
    dev_t device;
    ino_t inode;
    int fd;
  };
  std::mutex mutex_;
  std::vector<waiting> waiting_;
};

unsynced_directories& unsynced() {
  static unsynced_directories instance;
  return instance;
}

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

  dir_identity identity() const {
    struct stat info {};
    ::fstat(fd_, &info);
    return identity_of(info);
  }

  // Whether `name` is a file (a link to one counts).
  bool holds_file(const std::string& name) const {
    struct stat info;
    return ::fstatat(fd_, name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode);
  }

  // After `name` was made, with the directory's identity `before`: leaves
  // the directory to be synced once for the run (a name lost to a power cut
  // only means the file is fetched again), and tells the directory cache.
  void entry_made(const std::string& name, const dir_identity& before) const {
    const dir_identity after = identity();
    if (syncable_) unsynced().add(fd_, after);
    posix::note_new_entry(path_, before, after, name);
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
  const dir_identity before = dir.identity();
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), dir.fd(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    dir.entry_made(name, before);
    return true;
  }
  // Another run linked its whole file first: that one stays.
  return errno == EEXIST && dir.holds_file(name);
}

// The process that made a named temporary file ".NAME.part-PID-XXXXXX", or 0
// when the name is not of that form.
pid_t maker_of(std::string_view file) {
  const auto mark = file.rfind(".part-");
  if (file.empty() || file[0] != '.' || mark == std::string_view::npos || mark == 0) return 0;
  const std::string_view rest = file.substr(mark + 6);
  const auto dash = rest.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > 9 || rest.size() != dash + 7) return 0;
  pid_t maker = 0;
  for (const char c : rest.substr(0, dash)) {
    if (c < '0' || c > '9') return 0;
    maker = maker * 10 + (c - '0');
  }
  return maker;
}

bool process_runs(pid_t id) { return ::kill(id, 0) == 0 || errno == EPERM; }

// Removes the named temporary files that processes which no longer run
// (killed, or the machine went down) left in the directory. Files of a
// process that still runs stay: it may be about to put them in place.
void remove_leftovers(const target_directory& dir) {
  const int fd = ::openat(dir.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // an unreadable directory cannot be searched
  DIR* listing = ::fdopendir(fd);
  if (!listing) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const pid_t maker = maker_of(entry->d_name);
    if (maker <= 0 || maker == ::getpid() || process_runs(maker)) continue;
    ::unlinkat(dir.fd(), entry->d_name, 0);
  }
  ::closedir(listing);
}

// The named way, where the file system offers no unnamed files (or no /proc
// to link them by): a hidden temporary file beside the target, removed on
// every failure. A kill or a power cut while it exists leaves it behind, as
// ".NAME.part-PID-XXXXXX", which is never taken for the file itself and which
// the next named write into the directory removes.
void write_named(const target_directory& dir, const std::string& name, std::string_view data,
                 std::string_view library_path) {
  remove_leftovers(dir);
  const dir_identity before = dir.identity();
  std::string path = dir.path() + "." + name + ".part-" + std::to_string(::getpid()) + "-XXXXXX";
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
    dir.entry_made(name, before);
    return;
  }
  if (errno == EEXIST && dir.holds_file(name)) return;  // another run's whole file stays
  // No hard links on this file system, or an entry that is no file in the
  // way: the rename replaces it (a directory refuses).
  if (::renameat(dir.fd(), file.leaf.c_str(), dir.fd(), name.c_str()) != 0)
    fail_create(library_path, errno);
  file.leaf.clear();
  dir.entry_made(name, before);
}

}  // namespace

void test_hooks::set_named_temporary_files(bool named) { named_temporary_files = named; }

bool sync_written_directories() noexcept { return unsynced().sync(); }

std::size_t test_hooks::directories_to_sync() { return unsynced().size(); }

void write_file_atomically(std::string_view library_path, std::string_view data) {
  const std::string target = host_path(library_path);
  const auto slash = target.find_last_of('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) fail_create(library_path, EISDIR);

  const target_directory dir(slash == std::string::npos ? "" : target.substr(0, slash + 1));
  if (dir.fd() < 0) fail_create(library_path, errno);
  // An unnamed file leaves nothing behind whenever the program ends; only a
  // named one needs the termination signals held until it is gone.
  if (!named_temporary_files && write_unnamed(dir, name, data)) return;
  termination_signals_held held;
  write_named(dir, name, data, library_path);
}

}  // namespace platform
