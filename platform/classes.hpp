// The class library's pieces that the components and the program use: the object
// base, a component with an owner, an ordered object list, a growable memory
// stream with a position and a string list whose items may carry objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime.hpp"

namespace platform {

// Common base of everything a list may hold or a component may own.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

// An event: a procedure that gets the object that fires it. Not set when empty.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Raised for an index outside a list: "List index out of bounds (N)".
class EListError : public Exception {
 public:
  using Exception::Exception;
  const char* class_name() const noexcept override { return "EListError"; }
  std::unique_ptr<Exception> copy() const override;
  [[noreturn]] void raise() const override;
};

// A component may have an owner. The owner frees the components it owns when
// it goes (the last one added first); a component freed earlier leaves its
// owner's list.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;

 private:
  TComponent* owner_;
  std::vector<TComponent*> components_;
};

// An ordered list of object references. It owns none of them.
class TList : public TObject {
 public:
  int Add(TObject* item);
  void Insert(int index, TObject* item);
  void Delete(int index);
  // Removes the first entry equal to item; its former index, or -1.
  int Remove(TObject* item);
  int IndexOf(TObject* item) const;
  void Clear() { items_.clear(); }

  int Count() const { return static_cast<int>(items_.size()); }
  TObject* Items(int index) const;
  TObject* operator[](int index) const { return Items(index); }
  TObject* First() const { return Items(0); }
  TObject* Last() const { return Items(Count() - 1); }

 private:
  std::vector<TObject*> items_;
};

enum TSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

// A growable block of bytes with a read/write position. The bytes live in one
// malloc block that grows by realloc, so a large block moves by remapping its
// pages instead of being copied while old and new coexist.
class TMemoryStream : public TObject {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  // Copies up to count bytes from the position on; the count copied.
  std::size_t Read(void* buffer, std::size_t count);
  // Writes all count bytes at the position, growing the stream as needed (a
  // gap left by a position beyond the end reads as zero bytes); returns count.
  std::size_t Write(const void* buffer, std::size_t count);
  // Moves the position (never before the first byte) and returns it.
  std::size_t Seek(std::int64_t offset, TSeekOrigin origin);

  std::size_t Position() const { return position_; }
  void SetPosition(std::size_t position) { position_ = position; }
  std::size_t Size() const { return size_; }
  // A position beyond the new size moves to the end.
  void SetSize(std::size_t size);
  // Size 0, position 0; the memory is released.
  void Clear();
  // Makes room for `capacity` bytes in all, so that writes up to that size
  // need no further growth. Never shrinks.
  void Reserve(std::size_t capacity);
  std::size_t Capacity() const { return capacity_; }

  const char* Memory() const { return data_; }
  char* Memory() { return data_; }
  std::string_view View() const { return {data_, size_}; }

 private:
  // Grows the block to hold at least `needed` bytes.
  void grow(std::size_t needed);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t position_ = 0;
};

// A list of texts, each with an attached object or none. Whether the list owns
// the attached objects is fixed when it is made: an owning list frees an
// item's object when the item is deleted, replaced or cleared, and when the
// list goes; a list that does not own them never frees them.
class TStringList : public TObject {
 public:
  explicit TStringList(bool OwnsObjects = false) : owns_objects_(OwnsObjects) {}
  ~TStringList() override;

  bool OwnsObjects() const { return owns_objects_; }

  int Add(std::string text) { return AddObject(std::move(text), nullptr); }
  int AddObject(std::string text, TObject* object);
  void Delete(int index);
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  int IndexOf(std::string_view text) const;

  const std::string& Strings(int index) const;
  const std::string& operator[](int index) const { return Strings(index); }
  void SetString(int index, std::string text);
  TObject* Objects(int index) const;
  void SetObject(int index, TObject* object);

  // Replaces the items by copies of the other list's texts, without objects
  // (an attached object has one owner).
  void Assign(const TStringList& source);

  // Replaces the items by the lines of the stream from its position to its
  // end. Lines end at CR, LF or CR LF; a zero byte ends the text; a last line
  // without an end counts, an end at the very end adds no empty line.
  void LoadFromStream(TMemoryStream& stream);
  // The texts, each followed by CR LF.
  std::string Text() const;

 private:
  struct item {
    std::string text;
    TObject* object;
  };
  void check_index(int index) const;
  void free_object(TObject* object) const;

  bool owns_objects_;
  std::vector<item> items_;
};

}  // namespace platform
