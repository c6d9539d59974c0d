// Unit _LISTS: the owning doubly linked list.
#include "lib/lists.hpp"

#include <string>

#include "lib/error_codes.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/lists.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";
}  // namespace

// Not inlined: the error names the code that called it.
__attribute__((noinline)) te_ lists_error(int code, std::string_view context) {
  return make_error_at(QLIB_RETURN_ADDRESS(), code, "/unit=_lists" + std::string(context));
}

void tl_::done() {
  clear();
  t_object::done();
}

tl_::~tl_() { clear(); }

void tl_::append(owned<tle_> element) {
  tle_* item = element.release();
  item->list_ = this;
  item->prev_ = last_;
  item->next_ = nullptr;
  if (last_)
    last_->next_ = item;
  else
    first_ = item;
  last_ = item;
  ++count_;
}

owned<tle_> tl_::remove(tle_& element) {
  if (element.list_ != this) throw lists_error(err_foreign_element, "");
  if (element.prev_)
    element.prev_->next_ = element.next_;
  else
    first_ = element.next_;
  if (element.next_)
    element.next_->prev_ = element.prev_;
  else
    last_ = element.prev_;
  element.list_ = nullptr;
  element.prev_ = element.next_ = nullptr;
  --count_;
  return owned<tle_>(&element);
}

void tl_::clear() {
  while (first_) remove(*first_);  // the handed-back pointer frees it
}

void start_lists_unit() { register_banner(revision); }
void stop_lists_unit() {}

}  // namespace qlib
