// Unit _PARAMS: the parameter parser. A parameter line is split into
// parameters (blanks and "/" separate them outside quotes and parentheses);
// comments, "if" conditions and "@" includes of parameter files are handled
// here, and the caller reads each parameter's name and value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "lib/gio.hpp"
#include "lib/object.hpp"
#include "lib/system.hpp"

namespace qlib {

// make_error(code, "/unit=_params" + context).
te_ params_error(int code, std::string_view context);

// An abstract source of parameters. The value operations go through
// param_text, so on an outer source they read the innermost nested one.
class t_par_base : public t_object {
 public:
  const char* class_name() const override { return "t_par_base"; }
  void done() override;

  // Advances to the next parameter of at least `level`; false at the end.
  virtual bool next_param() = 0;
  // The current parameter's text; error 2451 when there is none.
  virtual std::string param_text() = 0;
  // Where the current parameter stands.
  virtual std::string param_position() = 0;

  // 0: empty or a comment; 1: starts with "#"; 2: anything else.
  std::uint8_t get_kind();
  std::string get_name();
  std::string get_raw_value();
  // The value with its references expanded.
  std::string get_value();
  std::int32_t get_int();
  bool get_yes_no();

  t_par_base* parent = nullptr;  // the enclosing source
  owned<t_par_base> child;       // the nested source that supplies parameters now
  std::int32_t count = 0;        // scan steps (t_param) or lines read (t_par_file)
  std::uint8_t level = 0;        // the lowest kind next_param reports
};

// The parameters of one line.
class t_param : public t_par_base {
 public:
  const char* class_name() const override { return "t_param"; }
  void done() override;

  // Stores the level and the line (references expanded, parentheses around
  // the whole line stripped) and activates the source.
  void start(std::uint8_t source_level, std::string_view text);

  bool next_param() override;
  std::string param_text() override;
  // The number of scan steps made on the line.
  std::string param_position() override;

  owned<t_file> file;     // the parameter file an include opened
  std::int32_t mark = 0;  // 1-based start of the current parameter in `line`
  std::int32_t pos = 0;   // 1-based scan position in `line`
  std::string line;

 private:
  void scan_parameter();
  void include(const std::string& text);
  std::string current_text() const;
};

// The parameters of a parameter file, one t_param per line. Lines after
// "---CIF---" are enciphered.
class t_par_file : public t_par_base {
 public:
  const char* class_name() const override { return "t_par_file"; }

  // Reads `source` (owned by the t_param that opened it).
  void start(std::uint8_t source_level, t_file* source);

  bool next_param() override;
  std::string param_text() override;
  // The file's name, "#" and the number of lines read: "options.txt#3".
  std::string param_position() override;

  t_file* file = nullptr;
  std::uint8_t ciphered = 0;
  std::string line;
};

// Name and value of a parameter text: a leading "-" or "/" is dropped; the
// first ":" or "=" splits; else a last "+" or "-" is the value; else the
// value is one blank.
std::pair<std::string, std::string> split_param(std::string_view text);

// Trims, then removes parentheses around the whole text (not "(*") as long as
// they are there.
std::string strip_parens(std::string_view text);

// "text" with inner double quotes doubled; error 201 when that would not fit
// in 255 characters.
std::string quote_str(std::string_view text);
// Removes the enclosing double quotes of a quoted text and undoubles the
// quotes inside; any other text is returned unchanged.
std::string unquote_str(std::string_view text);

// The enciphered line layout: character 1 and the last character seed the
// stream, characters 2 and 3 hold a check value of the text, characters 4
// to next-to-last hold the text. Errors 2459 for a line that is too short
// or whose check fails. encipher_line makes such a line from a text.
std::string decipher_line(std::string_view line);
std::string encipher_line(std::string_view text);

// Runs `body` once per parameter of at least `level` in `source`, giving it
// the parameter's name (lower-cased, cut to `name_capacity`) and the source
// to read the value from. The source is freed on every way out.
void for_each_param(std::uint8_t level, std::string_view source, std::size_t name_capacity,
                    const std::function<void(t_par_base& current, const std::string& name)>& body);

void start_params_unit();
void stop_params_unit();

}  // namespace qlib
