// Atomic whole-file writes on POSIX: an unnamed temporary file linked to its
// name once whole and synced, or a hidden named one where the file system has
// no unnamed files; writes in groups, whose files are synced together before
// their names appear; the directories written into are synced once per run.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
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

  // Tells the directory cache of a hidden temporary file the program made,
  // so that what it knows of the directory stays good.
  void temporary_made(const std::string& name, const dir_identity& before) const {
    posix::note_new_entry(path_, before, identity(), name);
  }

 private:
  std::string path_;  // "" for the current directory, else ending in "/"
  int fd_ = -1;
  bool syncable_ = true;
};

// The whole of `data`, or errno; write-back of what is written starts.
int write_all(int fd, std::string_view data) {
  for (std::size_t written = 0; written < data.size();) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    written += static_cast<std::size_t>(n);
  }
  return 0;
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

// A write of a group: its file is whole, its write-back under way, its name
// still to come.
struct waiting_write {
  std::shared_ptr<target_directory> dir;  // shared by the group's writes into it
  std::string name;          // in dir
  std::string host;          // the whole host path, as file_exists maps it
  std::string library_path;  // for the errors
  int fd = -1;
  std::string leaf;  // the named way: the hidden temporary file in dir; "" for an unnamed file
};

std::mutex group_mutex;
std::vector<waiting_write> group;

// Closes the file; a hidden one goes.
void discard(waiting_write& write) {
  if (write.fd >= 0) ::close(write.fd);
  if (!write.leaf.empty()) ::unlinkat(write.dir->fd(), write.leaf.c_str(), 0);
  write.fd = -1;
  write.leaf.clear();
}

// Writes `data` into a new file of `dir` without its name: an unnamed one
// where the file system has them, else a hidden named one.
waiting_write start_write(std::shared_ptr<target_directory> dir, const std::string& name,
                          std::string_view data, std::string_view library_path) {
  waiting_write write;
  write.name = name;
  write.library_path = std::string(library_path);
  // An unnamed file is linked to its name through /proc; an entry in the way
  // that is no file can only be replaced by renaming a named one.
  static const bool proc_links = ::access("/proc/self/fd", X_OK) == 0;
  struct stat in_the_way;
  const bool replaces = ::fstatat(dir->fd(), name.c_str(), &in_the_way, AT_SYMLINK_NOFOLLOW) == 0 &&
                        !S_ISREG(in_the_way.st_mode);
  if (!named_temporary_files && proc_links && !replaces)
    write.fd = ::openat(dir->fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (write.fd < 0) {
    remove_leftovers(*dir);
    const dir_identity before = dir->identity();
    std::string path = dir->path() + "." + name + ".part-" + std::to_string(::getpid()) + "-XXXXXX";
    write.fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (write.fd < 0) fail_create(library_path, errno);
    write.leaf = path.substr(dir->path().size());
    const mode_t mask = ::umask(0);  // mkostemp makes 0600; give the usual mode
    ::umask(mask);
    ::fchmod(write.fd, 0666 & ~mask);
    dir->temporary_made(write.leaf, before);
  }
  write.dir = std::move(dir);
  if (const int error = write_all(write.fd, data); error != 0) {
    discard(write);
    fail_write(error);
  }
  // The bytes go to the disk from now on; the group's sync then waits less.
  ::sync_file_range(write.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  return write;
}

// Gives a synced file its name; errno when that failed (0 also when another
// run's whole file of that name was there first, which stays).
int give_name(waiting_write& write) {
  const target_directory& dir = *write.dir;
  const dir_identity before = dir.identity();
  int result = 0;
  if (write.leaf.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(write.fd);
    if (::linkat(AT_FDCWD, self.c_str(), dir.fd(), write.name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      const int error = errno;
      result = error == EEXIST && dir.holds_file(write.name) ? -1 : error;
    }
  } else if (::linkat(dir.fd(), write.leaf.c_str(), dir.fd(), write.name.c_str(), 0) == 0) {
    // The hidden name goes at once, so that the directory changes once.
    ::unlinkat(dir.fd(), write.leaf.c_str(), 0);
    write.leaf.clear();
  } else {
    if (errno == EEXIST && dir.holds_file(write.name)) {
      result = -1;
    } else if (::renameat(dir.fd(), write.leaf.c_str(), dir.fd(), write.name.c_str()) == 0) {
      write.leaf.clear();  // renamed: nothing hidden is left to remove
    } else {
      result = errno;
    }
  }
  if (result == 0) dir.entry_made(write.name, before);
  return result < 0 ? 0 : result;
}

// Makes the group's files durable: one sync of their file system when they
// share one, else each on its own; false when that failed.
bool sync_group(const std::vector<waiting_write>& writes) {
  // Files of one directory are on its file system.
  bool one_device = std::all_of(writes.begin(), writes.end(),
                                [&](const waiting_write& write) { return write.dir == writes.front().dir; });
  if (!one_device) {
    struct stat first {};
    one_device = ::fstat(writes.front().fd, &first) == 0;
    for (const waiting_write& write : writes) {
      struct stat info {};
      one_device = one_device && ::fstat(write.fd, &info) == 0 && info.st_dev == first.st_dev;
    }
  }
  if (one_device && ::syncfs(writes.front().fd) == 0) return true;
  for (const waiting_write& write : writes)
    if (::fsync(write.fd) != 0) return false;
  return true;
}

}  // namespace

bool detail::waiting_write_named(const std::string& host_path) {
  const std::lock_guard<std::mutex> lock(group_mutex);
  for (const waiting_write& write : group)
    if (write.host == host_path) return true;
  return false;
}

void write_file_in_group(std::string_view library_path, std::string_view data) {
  const std::string target = host_path(library_path);
  const auto slash = target.find_last_of('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) fail_create(library_path, EISDIR);
  const std::string dir_path = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  // The directory of the group's last write serves again: one open for the
  // strips of a run, not one each.
  std::shared_ptr<target_directory> dir;
  {
    const std::lock_guard<std::mutex> lock(group_mutex);
    if (!group.empty() && group.back().dir->path() == dir_path) dir = group.back().dir;
  }
  if (!dir) dir = std::make_shared<target_directory>(dir_path);
  if (dir->fd() < 0) fail_create(library_path, errno);
  waiting_write write = start_write(std::move(dir), name, data, library_path);
  write.host = target;
  std::size_t waiting = 0;
  {
    const std::lock_guard<std::mutex> lock(group_mutex);
    group.push_back(std::move(write));
    waiting = group.size();
  }
  if (waiting >= write_group_size) name_written_files();
}

void name_written_files() {
  std::vector<waiting_write> writes;
  {
    const std::lock_guard<std::mutex> lock(group_mutex);
    writes.swap(group);
  }
  if (writes.empty()) return;
  // No name before every byte of the group is durable: a sync that failed
  // names none of them.
  if (!sync_group(writes)) {
    const int error = errno;
    for (waiting_write& write : writes) discard(write);
    fail_write(error);
  }
  int first_error = 0;
  std::string failed_path;
  for (waiting_write& write : writes) {
    if (const int error = give_name(write); error != 0 && first_error == 0) {
      first_error = error;
      failed_path = write.library_path;
    }
    discard(write);
  }
  if (first_error != 0) fail_create(failed_path, first_error);
}

void test_hooks::set_named_temporary_files(bool named) { named_temporary_files = named; }

bool sync_written_directories() noexcept { return unsynced().sync(); }

std::size_t test_hooks::directories_to_sync() { return unsynced().size(); }

void write_file_atomically(std::string_view library_path, std::string_view data) {
  write_file_in_group(library_path, data);
  name_written_files();
}

}  // namespace platform
