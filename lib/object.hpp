// t_object, the support library's base class (unit _SYSTEM), with the common
// creation routine and the owning pointer that frees objects with `done`.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qlib {

class t_object {
 public:
  virtual ~t_object() = default;
  t_object() = default;
  t_object(const t_object&) = delete;
  t_object& operator=(const t_object&) = delete;

  // The class name that error contexts ("/class=...") name.
  virtual const char* class_name() const { return "t_object"; }

  // Runs right after the object's storage is set up; the base does nothing.
  virtual void init() {}
  // Takes one set-up parameter; the base refuses every parameter with error
  // 211 "/class=NAME/proc=setup/par=" and the parameter in quotes.
  virtual void setup(std::string_view parameter);
  virtual void activate() { active = 1; }
  // Releases what the object holds; overriders release theirs first and then
  // call the inherited done.
  virtual void done() { active = 0; }

  std::uint8_t active = 0;
};

// Frees an object the library's way: `done` first (an error it raises is
// swallowed), then the storage.
struct object_deleter {
  void operator()(t_object* object) const noexcept;
};
template <class T>
using owned = std::unique_ptr<T, object_deleter>;

// The common creation routine: zeroed storage, then `init`; when `init`
// fails the storage is freed (without `done`) and the error passes on.
template <class T, class... Args>
owned<T> create_object(Args&&... args) {
  std::unique_ptr<T> object(new T(std::forward<Args>(args)...));
  object->init();
  return owned<T>(object.release());
}

// `text` in double quotes with every double quote inside doubled; nothing
// when the doubled text would be longer than 253 characters (so that the
// result would not fit in a short string). Callers raise their own error.
std::optional<std::string> quoted(std::string_view text);

}  // namespace qlib
