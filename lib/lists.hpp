// Unit _LISTS: the linked list tl_ of owned elements tle_, as far as the
// library's registries need it.
#pragma once

#include <cstddef>
#include <string_view>

#include "lib/object.hpp"
#include "lib/system.hpp"

namespace qlib {

// make_error(code, "/unit=_lists" + context).
te_ lists_error(int code, std::string_view context);

class tl_;

// An element of at most one list at a time; the list owns it.
class tle_ : public t_object {
 public:
  const char* class_name() const override { return "tle_"; }
  tl_* list() const { return list_; }
  tle_* next() const { return next_; }
  tle_* prev() const { return prev_; }

 private:
  friend class tl_;
  tl_* list_ = nullptr;
  tle_* prev_ = nullptr;
  tle_* next_ = nullptr;
};

// A doubly linked list that owns its elements and frees them with itself.
class tl_ : public t_object {
 public:
  const char* class_name() const override { return "tl_"; }
  void done() override;
  ~tl_() override;

  // Adds the element at the end.
  void append(owned<tle_> element);
  // Takes the element out and hands it back; error 2025 when it is not an
  // element of this list.
  owned<tle_> remove(tle_& element);
  // Frees every element.
  void clear();

  tle_* first() const { return first_; }
  tle_* last() const { return last_; }
  std::size_t count() const { return count_; }

 private:
  tle_* first_ = nullptr;
  tle_* last_ = nullptr;
  std::size_t count_ = 0;
};

void start_lists_unit();
void stop_lists_unit();

}  // namespace qlib
