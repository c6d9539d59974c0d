// What the path mapping offers the other POSIX file stand-ins: the host path
// of a library path with what the mapping learnt of its last component, and
// the identity of a directory, by which the mapping's cache hears of the
// program's own new entries.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::posix {

// What shows that a directory changed: another inode, or another
// modification time.
struct dir_identity {
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
  bool operator==(const dir_identity&) const = default;
};

inline dir_identity identity_of(const struct stat& info) {
  return {info.st_dev, info.st_ino, static_cast<std::int64_t>(info.st_mtim.tv_sec),
          static_cast<std::int64_t>(info.st_mtim.tv_nsec)};
}

// The name to open a directory by: "" is the current one.
inline const char* open_name(const std::string& directory) {
  return directory.empty() ? "." : directory.c_str();
}

// A host path as the mapping found it.
struct mapped_path {
  std::string path;
  bool missing = false;  // a component is known not to be on disk
  bool probed = false;   // `info` holds the lstat of the last component
  struct stat info {};
};

mapped_path map_path(std::string_view library_path);

// Tells the cache that the program made `name` in `directory` ("" or ending
// in "/"), whose identity went from `before` to `after` with it.
void note_new_entry(const std::string& directory, const dir_identity& before,
                    const dir_identity& after, const std::string& name);

}  // namespace platform::posix
