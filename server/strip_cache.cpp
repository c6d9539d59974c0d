// The answer cache: a list in order of use and an index into it, under one lock.
#include "server/strip_cache.hpp"

namespace server {

strip_cache::bytes strip_cache::find(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = index_.find(key);
  if (found == index_.end()) return nullptr;
  recent_.splice(recent_.begin(), recent_, found->second);
  ++hits_;
  return found->second->value;
}

bool strip_cache::contains(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index_.count(key) != 0;
}

void strip_cache::store(const std::string& key, bytes value) {
  if (!value) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (const auto found = index_.find(key); found != index_.end()) drop(found->second);
  entry fresh{key, std::move(value)};
  const std::size_t needed = cost(fresh);
  if (needed > max_bytes_) return;
  while (held_ + needed > max_bytes_) drop(std::prev(recent_.end()));
  recent_.push_front(std::move(fresh));
  // The key's view points into the list node, which stays where it is.
  index_.emplace(recent_.front().key, recent_.begin());
  held_ += needed;
}

void strip_cache::drop(std::list<entry>::iterator it) {
  held_ -= cost(*it);
  index_.erase(it->key);
  recent_.erase(it);
}

std::size_t strip_cache::bytes_held() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

std::size_t strip_cache::hits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hits_;
}

std::size_t strip_cache::entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return recent_.size();
}

}  // namespace server
