// Unit _GIO: the file-type registry and the opening of parameter files.
#include "lib/gio.hpp"

#include <string>

#include "lib/error_codes.hpp"
#include "lib/os.hpp"
#include "lib/types.hpp"

namespace qlib {
namespace {
constexpr const char* revision =
    "$Source: /quorvel/lib/gio.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";

owned<tl_>& registry() {
  static owned<tl_> list;
  return list;
}
}  // namespace

tl_* file_types = nullptr;

// Not inlined: the error names the code that called it.
__attribute__((noinline)) te_ gio_error(int code, std::string_view context) {
  return make_error_at(QLIB_RETURN_ADDRESS(), code, "/unit=_gio" + std::string(context));
}

void add_file_type(const t_file_class& file_class, std::uint8_t priority) {
  auto entry = create_object<file_type_entry>();
  entry->file_class = &file_class;
  entry->priority = priority;
  file_types->append(std::move(entry));
}

void remove_file_type(const t_file_class& file_class) {
  for (tle_* item = file_types->first(); item;) {
    tle_* next = item->next();
    if (static_cast<file_type_entry*>(item)->file_class == &file_class) file_types->remove(*item);
    item = next;
  }
}

const t_file_class& find_file_type(std::string_view file_name) {
  const std::string name = expand_vars(file_name);
  for (int priority = 10; priority >= 0; --priority) {
    for (tle_* item = file_types ? file_types->first() : nullptr; item; item = item->next()) {
      const auto& entry = static_cast<const file_type_entry&>(*item);
      if (entry.priority != priority) continue;
      if (entry.file_class->accepts(name, static_cast<std::uint8_t>(priority)))
        return *entry.file_class;
    }
  }
  throw gio_error(err_no_file_type, short_str("/proc=find_file_type/name=" + name));
}

owned<t_file> open_param_file(std::string_view file_name) {
  const std::string name = expand_vars(file_name);
  owned<t_file> file = find_file_type(name).create();
  file->file_name = name;
  file->open_mode = 2;
  file->activate();
  return file;
}

void start_gio_unit() {
  if (register_banner(revision)) return;
  registry() = create_object<tl_>();
  file_types = registry().get();
}

void stop_gio_unit() {
  file_types = nullptr;
  registry().reset();
}

}  // namespace qlib
