// The file-system stand-ins on POSIX: the path mapping with its cache of what
// it learnt of directories, the existence test, the directory enumeration and
// the atomic whole-file writes, with errno mapped to the original's error
// numbers.
#include "platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

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

// The path mapping and its cache of what it learnt of directories.
namespace {

// A library path as host path components: "\" as "/", no drive, and "." and
// ".." resolved on the text as the original file system resolves them, so a
// ".." after a component that does not exist still goes up.
struct path_text {
  bool empty = true;  // nothing but a drive, or nothing at all
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
    }                                 // at the root ".." stays at the root
  }
  return text;
}

// ASCII letters only, as strcasecmp compares without a locale.
char folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char folded_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::uint64_t folded_hash(std::string_view name) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : name)
    hash = (hash ^ static_cast<unsigned char>(folded(c))) * 1099511628211ull;
  return hash;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return folded(x) == folded(y); });
}

// What shows that a directory changed: another inode, or another
// modification time.
struct dir_identity {
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
  bool operator==(const dir_identity&) const = default;
};

dir_identity identity_of(const struct stat& info) {
  return {info.st_dev, info.st_ino, static_cast<std::int64_t>(info.st_mtim.tv_sec),
          static_cast<std::int64_t>(info.st_mtim.tv_nsec)};
}

using steady = std::chrono::steady_clock;

// The names of one directory in one block of text, found by a hash of their
// spelling folded to lower case: reading 100,000 names costs a few
// allocations and one sort.
class directory_listing {
 public:
  void read_name(std::string_view name) { by_hash_.push_back(keep(name)); }
  void sort() {
    std::sort(by_hash_.begin(), by_hash_.end(),
              [](const name_ref& a, const name_ref& b) { return a.hash < b.hash; });
  }
  // The program's own new name.
  void add(const std::string& name) {
    if (spelling(name) != name) added_.push_back(keep(name));
  }

  // The exact name when it is listed, else the smallest name that matches it
  // ignoring case, so that the choice does not depend on the order of readdir.
  std::optional<std::string> spelling(const std::string& name) const {
    const std::uint64_t hash = folded_hash(name);
    std::optional<std::string_view> smallest;
    bool exact = false;
    const auto consider = [&](const name_ref& ref) {
      const std::string_view candidate = std::string_view(text_).substr(ref.offset, ref.size);
      if (ref.hash != hash || !same_ignoring_case(candidate, name)) return;
      exact = exact || candidate == name;
      if (!smallest || candidate < *smallest) smallest = candidate;
    };
    const auto first = std::lower_bound(
        by_hash_.begin(), by_hash_.end(), hash,
        [](const name_ref& ref, std::uint64_t wanted) { return ref.hash < wanted; });
    for (auto it = first; it != by_hash_.end() && it->hash == hash; ++it) consider(*it);
    for (const name_ref& ref : added_) consider(ref);
    if (exact) return name;
    if (!smallest) return std::nullopt;
    return std::string(*smallest);
  }

 private:
  struct name_ref {
    std::uint64_t hash;
    std::uint32_t offset;
    std::uint32_t size;
  };

  name_ref keep(std::string_view name) {
    const name_ref ref{folded_hash(name), static_cast<std::uint32_t>(text_.size()),
                       static_cast<std::uint32_t>(name.size())};
    text_.append(name);
    return ref;
  }

  std::string text_;               // the names one after another
  std::vector<name_ref> by_hash_;  // sorted by hash once read
  std::vector<name_ref> added_;    // the program's own names since
};

// The smallest spelling of `name` other than itself that `directory` holds,
// found by trying the spellings in ascending order (upper case sorts first,
// the first letter counts most): the choice that the names read would give.
std::optional<std::string> tried_spelling(const std::string& directory, const std::string& name) {
  std::vector<std::size_t> letters;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (folded(name[i]) != folded_upper(name[i])) letters.push_back(i);
  std::string candidate = name;
  for (std::uint32_t mask = 0; mask < (1u << letters.size()); ++mask) {
    for (std::size_t j = 0; j < letters.size(); ++j) {
      char& c = candidate[letters[j]];
      c = (mask >> (letters.size() - 1 - j)) & 1 ? folded(c) : folded_upper(c);
    }
    struct stat info;
    if (candidate != name && ::lstat((directory + candidate).c_str(), &info) == 0) return candidate;
  }
  return std::nullopt;
}

// Whether trying the spellings of `name` costs less than reading a directory
// of `directory_size` bytes: one lstat costs about as much as reading 2 KiB
// of names.
bool spellings_cost_less(const std::string& name, std::int64_t directory_size) {
  std::size_t letters = 0;
  for (const char c : name) letters += folded(c) != folded_upper(c);
  return letters <= 10 && (std::int64_t{2048} << letters) < directory_size;
}

// What the cache knows of one directory while its identity holds: its names
// once read, the program's own new ones since, and the spellings found for
// the names of directories asked for in it.
struct known_directory {
  dir_identity identity;
  std::int64_t size = 0;             // in bytes, as the system reports it
  steady::time_point identity_seen;  // when this identity was first seen
  steady::time_point recheck_at;     // begin again then although unchanged
  steady::time_point used;
  std::optional<directory_listing> listing;
  std::unordered_map<std::string, std::optional<std::string>> answers;  // by the name asked

  // The program's own new entry `name`: the answers it may change go.
  void add(const std::string& name) {
    if (listing) listing->add(name);
    for (auto it = answers.begin(); it != answers.end();)
      it = same_ignoring_case(it->first, name) ? answers.erase(it) : std::next(it);
  }
};

const char* open_name(const std::string& directory) {
  return directory.empty() ? "." : directory.c_str();
}

// What is known of the few directories a run works in. It is dropped when a
// directory's identity changes, and once more when it was gathered so soon
// after the identity was first seen that a change within the same tick of
// the file system's clock could have kept the identity.
class directory_cache {
 public:
  // The spelling of `name` in `directory` ("" for the current directory, else
  // ending in "/") as the directory is now; nothing when no entry matches or
  // the directory cannot be read. The directory's names are read once and
  // kept while its identity holds, so that a test costs the same in a
  // directory of any size.
  std::optional<std::string> spelling(const std::string& directory, const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const steady::time_point now = steady::now();
    known_directory* known = current(directory, now);
    if (!known) return std::nullopt;
    return listed_spelling(directory, *known, name, now);
  }

  // The spelling of the directory `name` in `directory`, as spelling() finds
  // it, remembered while the identity holds: a path's directories cost one
  // call each once known. In a large directory a short name is found by
  // trying its spellings rather than by reading every name.
  std::optional<std::string> directory_spelling(const std::string& directory,
                                                const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const steady::time_point now = steady::now();
    known_directory* known = current(directory, now);
    if (!known) return std::nullopt;
    const auto answer = known->answers.find(name);
    if (answer != known->answers.end()) return answer->second;
    std::optional<std::string> found;
    struct stat info;
    if (::lstat((directory + name).c_str(), &info) == 0) {
      found = name;
    } else if (known->listing || !spellings_cost_less(name, known->size)) {
      found = listed_spelling(directory, *known, name, now);
      if (!entries_.count(directory)) return found;  // unreadable: nothing kept
    } else {
      found = tried_spelling(directory, name);
    }
    if (known->answers.size() >= 256) known->answers.clear();  // a bound for odd programs
    known->answers.emplace(name, found);
    return found;
  }

  // The program's own new entry `name` in `directory`, which had the identity
  // `before` just before the entry was made and `after` just after: what was
  // known stays, with the name. (A change that another process makes in the
  // same instant goes unseen.)
  void note_new_entry(const std::string& directory, const dir_identity& before,
                      const dir_identity& after, const std::string& name) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = entries_.find(directory);
    if (found == entries_.end() || found->second.identity != before) return;
    found->second.add(name);
    found->second.identity = after;
  }

  void set_settle_time(std::chrono::nanoseconds time) {
    const std::lock_guard<std::mutex> lock(mutex_);
    settle_time_ = time;
  }

  std::uint64_t reads() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }

 private:
  static constexpr std::size_t max_entries = 32;  // the directories of a deep path

  // What is known of `directory` now: kept while its identity holds, else
  // begun again; nothing when the directory is gone.
  known_directory* current(const std::string& directory, steady::time_point now) {
    const auto found = entries_.find(directory);
    struct stat info;
    if (::stat(open_name(directory), &info) != 0 || !S_ISDIR(info.st_mode)) {
      if (found != entries_.end()) entries_.erase(found);
      return nullptr;
    }
    const dir_identity identity = identity_of(info);
    if (found != entries_.end() && found->second.identity == identity &&
        now < found->second.recheck_at) {
      found->second.used = now;
      return &found->second;
    }
    known_directory fresh;
    fresh.identity = identity;
    fresh.size = static_cast<std::int64_t>(info.st_size);
    fresh.identity_seen = now;
    if (found != entries_.end() && found->second.identity == identity)
      fresh.identity_seen = found->second.identity_seen;
    settle(fresh, now);
    fresh.used = now;
    if (found == entries_.end() && entries_.size() >= max_entries) evict_least_used();
    return &(entries_[directory] = std::move(fresh));
  }

  // A change within the settle time after the identity was first seen may
  // have kept it: what is learnt until then is learnt once more after.
  void settle(known_directory& known, steady::time_point now) const {
    known.recheck_at = now < known.identity_seen + settle_time_ ? known.identity_seen + settle_time_
                                                                : steady::time_point::max();
  }

  // The spelling of `name` in the names of `directory`, read when not yet
  // known; a directory that cannot be read is forgotten.
  std::optional<std::string> listed_spelling(const std::string& directory, known_directory& known,
                                             const std::string& name, steady::time_point now) {
    if (!known.listing && !read_listing(directory, known, now)) {
      entries_.erase(directory);
      return std::nullopt;
    }
    return known.listing->spelling(name);
  }

  bool read_listing(const std::string& directory, known_directory& known, steady::time_point now) {
    const int fd = ::open(open_name(directory), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info;
    DIR* dir = ::fstat(fd, &info) == 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
      ::close(fd);
      return false;
    }
    if (identity_of(info) != known.identity) {  // changed since: begin again
      known.identity = identity_of(info);
      known.size = static_cast<std::int64_t>(info.st_size);
      known.identity_seen = now;
      known.answers.clear();
      settle(known, now);
    }
    ++reads_;
    directory_listing listing;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string_view name(entry->d_name);
      if (name != "." && name != "..") listing.read_name(name);
    }
    const bool complete = errno == 0;
    ::closedir(dir);
    listing.sort();
    if (complete) known.listing = std::move(listing);
    return complete;
  }

  void evict_least_used() {
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (it->second.used < oldest->second.used) oldest = it;
    entries_.erase(oldest);
  }

  std::mutex mutex_;
  std::unordered_map<std::string, known_directory> entries_;
  std::chrono::nanoseconds settle_time_ = std::chrono::seconds(2);  // FAT's file-time resolution
  std::uint64_t reads_ = 0;
};

directory_cache& cache() {
  static directory_cache instance;
  return instance;
}

// The spelling on disk of the last component `name` in `directory` ("" or
// ending in "/"). The name as written is tried first, so that a present
// entry costs that one call (`probe` then holds its lstat and `probed`
// tells); only a missing one is looked for in the directory's names.
std::optional<std::string> spelling_on_disk(const std::string& directory, const std::string& name,
                                            struct stat& probe, bool& probed) {
  probed = ::lstat((directory + name).c_str(), &probe) == 0;
  if (probed) return name;
  return cache().spelling(directory, name);
}

struct mapped_path {
  std::string path;
  bool missing = false;  // a component is known not to be on disk
  bool probed = false;   // `info` holds the lstat of the last component
  struct stat info {};
};

mapped_path map_path(std::string_view library_path) {
  const path_text text = split_library_path(library_path);
  mapped_path mapped;
  if (text.empty) return mapped;
  if (text.parts.empty()) {
    mapped.path = text.absolute ? "/" : text.trailing ? "./" : ".";
    return mapped;
  }
  std::string& result = mapped.path;
  result = text.absolute ? "/" : "";
  bool on_disk = true;  // every component so far exists
  for (std::size_t i = 0; i < text.parts.size(); ++i) {
    std::string part = text.parts[i];
    const bool last = i + 1 == text.parts.size();
    if (on_disk && part != "..") {
      struct stat info;
      bool probed = false;
      const auto spelling = last ? spelling_on_disk(result, part, info, probed)
                                 : cache().directory_spelling(result, part);
      if (spelling) {
        part = *spelling;
      } else {
        on_disk = false;
        mapped.missing = true;
      }
      if (probed && !text.trailing) {
        mapped.probed = true;
        mapped.info = info;
      }
    }
    result += part;
    if (!last || text.trailing) result += '/';
  }
  return mapped;
}

}  // namespace

std::string host_path(std::string_view library_path) { return map_path(library_path).path; }

bool file_exists(std::string_view library_path) {
  const mapped_path mapped = map_path(library_path);
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

std::uint64_t directory_reads() { return cache().reads(); }

void set_directory_settle_time(std::chrono::nanoseconds time) { cache().set_settle_time(time); }

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

}  // namespace platform

// Atomic whole-file writes.
namespace platform {
namespace {

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
    cache().note_new_entry(path_, before, after, name);
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

void set_named_temporary_files(bool named) { named_temporary_files = named; }

bool sync_written_directories() noexcept { return unsynced().sync(); }

std::size_t directories_to_sync() { return unsynced().size(); }

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

// Appending to a file.
namespace platform {

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
