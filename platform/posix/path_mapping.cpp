// The path mapping on POSIX: library paths become host paths, each component
// matched ignoring case, with a cache of what it learnt of directories so that
// a test costs the same in a directory of any size.
#include "platform/posix/path_mapping.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/files.hpp"
#include "platform/test_hooks.hpp"
#include "platform/waits.hpp"

namespace platform {
namespace {

using posix::dir_identity;
using posix::identity_of;
using posix::open_name;

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
    const steady::time_point now = monotonic_now();
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
    const steady::time_point now = monotonic_now();
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
}  // namespace

posix::mapped_path posix::map_path(std::string_view library_path) {
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

void posix::note_new_entry(const std::string& directory, const dir_identity& before,
                           const dir_identity& after, const std::string& name) {
  cache().note_new_entry(directory, before, after, name);
}

std::string host_path(std::string_view library_path) {
  return posix::map_path(library_path).path;
}

std::uint64_t test_hooks::directory_reads() { return cache().reads(); }

void test_hooks::set_directory_settle_time(std::chrono::nanoseconds time) { cache().set_settle_time(time); }

}  // namespace platform
