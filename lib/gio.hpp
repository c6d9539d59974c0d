// Unit _GIO: file objects, the registry of file types that can read them, and
// the opening of parameter files through it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/lists.hpp"
#include "lib/object.hpp"
#include "lib/system.hpp"

namespace qlib {

// make_error(code, "/unit=_gio" + context).
te_ gio_error(int code, std::string_view context);

// A file read as lines of text. `activate` opens it by `file_name`.
class t_file : public t_object {
 public:
  const char* class_name() const override { return "t_file"; }

  // The next line of text, without its line break.
  virtual std::string read_line() = 0;
  // True when no line is left.
  virtual bool at_end() = 0;

  std::string file_name;       // the expanded name it was opened by
  std::uint8_t open_mode = 0;  // 2: read
};

// A class of file objects: whether it reads a file of a given name at a
// given priority (0 to 10), and the creation of its objects (with `init`).
class t_file_class {
 public:
  virtual ~t_file_class() = default;
  virtual bool accepts(std::string_view file_name, std::uint8_t priority) const = 0;
  virtual owned<t_file> create() const = 0;
};

// One registry entry.
class file_type_entry : public tle_ {
 public:
  const char* class_name() const override { return "file_type_entry"; }
  const t_file_class* file_class = nullptr;
  std::uint8_t priority = 0;
};

// The registry: created at the unit's start-up, freed at its end. The
// program registers no file type.
extern tl_* file_types;

// Adds a file class at a priority, and takes it out again.
void add_file_type(const t_file_class& file_class, std::uint8_t priority);
void remove_file_type(const t_file_class& file_class);

// The class that reads the (expanded) name: priorities from 10 down to 0,
// entries in registry order, the first that accepts wins. None: error 151
// "/unit=_gio/proc=find_file_type/name=" and the expanded name.
const t_file_class& find_file_type(std::string_view file_name);

// An object of the class that reads the (expanded) name, with the name
// stored, open mode 2, activated.
owned<t_file> open_param_file(std::string_view file_name);

void start_gio_unit();
void stop_gio_unit();

}  // namespace qlib
