// The class library's component, list, memory stream and string list.
#include "platform/classes.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace platform {

namespace {

[[noreturn]] void index_error(int index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

}  // namespace

std::unique_ptr<Exception> EListError::copy() const { return std::make_unique<EListError>(*this); }
void EListError::raise() const { throw *this; }

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  // Each owned component takes itself off the list while it is destroyed.
  while (!components_.empty()) delete components_.back();
  if (!owner_) return;
  auto& siblings = owner_->components_;
  siblings.erase(std::find(siblings.begin(), siblings.end(), this));
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) index_error(index);
  return components_[static_cast<std::size_t>(index)];
}

int TList::Add(TObject* item) {
  items_.push_back(item);
  return Count() - 1;
}

void TList::Insert(int index, TObject* item) {
  if (index < 0 || index > Count()) index_error(index);
  items_.insert(items_.begin() + index, item);
}

void TList::Delete(int index) {
  if (index < 0 || index >= Count()) index_error(index);
  items_.erase(items_.begin() + index);
}

int TList::Remove(TObject* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

int TList::IndexOf(TObject* item) const {
  const auto found = std::find(items_.begin(), items_.end(), item);
  return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
}

TObject* TList::Items(int index) const {
  if (index < 0 || index >= Count()) index_error(index);
  return items_[static_cast<std::size_t>(index)];
}

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::grow(std::size_t needed) {
  if (needed <= capacity_) return;
  // Doubling keeps appends amortised; realloc of a large block remaps it.
  const std::size_t capacity = std::max(needed, 2 * capacity_ + 64);
  Reserve(capacity);
}

void TMemoryStream::Reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  void* block = std::realloc(data_, capacity);
  if (!block) throw std::bad_alloc();
  data_ = static_cast<char*>(block);
  capacity_ = capacity;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  if (position_ >= size_) return 0;
  count = std::min(count, size_ - position_);
  if (count > 0) std::memcpy(buffer, data_ + position_, count);
  position_ += count;
  return count;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  if (position_ > size_) {
    grow(position_ + count);
    std::memset(data_ + size_, 0, position_ - size_);  // the gap reads as zero bytes
  } else {
    grow(position_ + count);
  }
  std::memcpy(data_ + position_, buffer, count);
  position_ += count;
  size_ = std::max(size_, position_);
  return count;
}

std::size_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = 0;
  switch (origin) {
    case soBeginning:
      base = 0;
      break;
    case soCurrent:
      base = static_cast<std::int64_t>(position_);
      break;
    case soEnd:
      base = static_cast<std::int64_t>(size_);
      break;
  }
  position_ = static_cast<std::size_t>(std::max<std::int64_t>(0, base + offset));
  return position_;
}

void TMemoryStream::SetSize(std::size_t size) {
  if (size > size_) {
    grow(size);
    std::memset(data_ + size_, 0, size - size_);
  }
  size_ = size;
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = position_ = 0;
}

TStringList::~TStringList() { Clear(); }

void TStringList::check_index(int index) const {
  if (index < 0 || index >= Count()) index_error(index);
}

void TStringList::free_object(TObject* object) const {
  if (owns_objects_) delete object;
}

int TStringList::AddObject(std::string text, TObject* object) {
  try {
    items_.push_back({std::move(text), object});
  } catch (...) {
    free_object(object);  // an owning list has taken the object over
    throw;
  }
  return Count() - 1;
}

void TStringList::Delete(int index) {
  check_index(index);
  TObject* object = items_[static_cast<std::size_t>(index)].object;
  items_.erase(items_.begin() + index);
  free_object(object);
}

void TStringList::Clear() {
  std::vector<item> old;
  old.swap(items_);
  for (const item& entry : old) free_object(entry.object);
}

int TStringList::IndexOf(std::string_view text) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].text == text) return static_cast<int>(i);
  return -1;
}

const std::string& TStringList::Strings(int index) const {
  check_index(index);
  return items_[static_cast<std::size_t>(index)].text;
}

void TStringList::SetString(int index, std::string text) {
  check_index(index);
  items_[static_cast<std::size_t>(index)].text = std::move(text);
}

TObject* TStringList::Objects(int index) const {
  check_index(index);
  return items_[static_cast<std::size_t>(index)].object;
}

void TStringList::SetObject(int index, TObject* object) {
  check_index(index);
  TObject*& slot = items_[static_cast<std::size_t>(index)].object;
  if (slot == object) return;
  TObject* old = slot;
  slot = object;
  free_object(old);
}

void TStringList::Assign(const TStringList& source) {
  if (&source == this) return;
  std::vector<std::string> texts;
  texts.reserve(source.items_.size());
  for (const item& entry : source.items_) texts.push_back(entry.text);
  Clear();
  for (std::string& text : texts) items_.push_back({std::move(text), nullptr});
}

void TStringList::LoadFromStream(TMemoryStream& stream) {
  const std::string_view all = stream.View();
  const std::size_t start = std::min(stream.Position(), all.size());
  std::string_view rest = all.substr(start);
  stream.SetPosition(all.size());
  const std::size_t zero = rest.find('\0');
  if (zero != std::string_view::npos) rest = rest.substr(0, zero);

  std::vector<item> lines;
  std::size_t i = 0;
  while (i < rest.size()) {
    const std::size_t end = std::min(rest.find_first_of("\r\n", i), rest.size());
    lines.push_back({std::string(rest.substr(i, end - i)), nullptr});
    i = end;
    if (i < rest.size() && rest[i] == '\r') ++i;
    if (i < rest.size() && rest[i] == '\n') ++i;
  }
  Clear();
  items_ = std::move(lines);
}

std::string TStringList::Text() const {
  std::string text;
  for (const item& entry : items_) {
    text += entry.text;
    text += "\r\n";
  }
  return text;
}

}  // namespace platform
