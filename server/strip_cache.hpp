// A bounded, thread-safe cache of rendered answers: bytes by key, the least
// recently used dropped first once the bytes held would pass the bound.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace server {

class strip_cache {
 public:
  using bytes = std::shared_ptr<const std::string>;

  // Holds at most max_bytes of keys and values together.
  explicit strip_cache(std::size_t max_bytes) : max_bytes_(max_bytes) {}

  // The bytes stored under key, or none; a hit makes the entry the most recent.
  bytes find(const std::string& key);
  // Whether bytes are stored under key; neither a use nor a hit.
  bool contains(const std::string& key) const;
  // Stores (or replaces) the bytes under key, dropping the least recent
  // entries as needed; bytes larger than the whole bound are not kept.
  void store(const std::string& key, bytes value);

  std::size_t bytes_held() const;
  std::size_t entries() const;
  std::size_t hits() const;  // finds that returned bytes

 private:
  struct entry {
    std::string key;
    bytes value;
  };
  static std::size_t cost(const entry& e) { return e.key.size() + e.value->size(); }
  void drop(std::list<entry>::iterator it);

  const std::size_t max_bytes_;
  mutable std::mutex mutex_;
  std::list<entry> recent_;  // most recent first
  std::unordered_map<std::string_view, std::list<entry>::iterator> index_;  // views into recent_
  std::size_t held_ = 0;
  std::size_t hits_ = 0;
};

}  // namespace server
