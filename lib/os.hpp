// Unit _OS: the library's view of the operating system (command line,
// environment references, paths, directory walks, searches). Paths are the
// original platform's: "\" separators, upper case once normalized, an
// optional drive "X:"; "/" is accepted in input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "lib/system.hpp"
#include "lib/types.hpp"

namespace qlib {

// make_error(code, "/unit=_os" + context).
te_ os_error(int code, std::string_view context);

// The command line after the program name, at most 255 characters. A name
// in double quotes is skipped whole with the blanks after it; an unquoted one
// ends at its first blank, which is skipped. No other quote is interpreted.
std::string command_tail();
// The same text without the cut: its length tells whether command_tail lost
// anything.
std::string full_command_tail();

// Every "%name%" reference replaced by var_lookup of the name; "%%" is one
// "%", and the closing "%" is optional. The result is a short string.
std::string expand_vars(std::string_view text);

// The lookup expand_vars calls; a program may put another in its place.
using var_lookup_proc = std::string (*)(std::string_view name);
extern var_lookup_proc var_lookup;

// The default lookup: "_ewd" is the program's own directory; "!name" and
// "!!name" are name's value that must not be empty (errors 2270 and 2271);
// "?name" is name's value, or the reference "%?name%" itself when that is
// empty; any other name is the environment variable of that name (case of
// the name ignored; a missing variable is empty).
std::string env_lookup(std::string_view name);

// Trims, turns "/" into "\", expands references, collapses "\\" (keeping one
// leading pair of a network path) and upper-cases.
std::string normalize_path(std::string_view path);
// Composes drive, directory, name and extension and normalizes the result.
std::string make_path(std::string_view drive, std::string_view directory, std::string_view name,
                      std::string_view extension);
// make_path("", directory, "", ""): "." gives ".\", "c:/x" gives "C:\X\".
std::string expand_dir(std::string_view directory);

// Parts of a path, after normalizing it: the drive ("C:", "\\SERVER\SHARE"
// or empty), the directory (ends in "\" unless empty), the name (up to 8
// characters) and the extension (up to 3).
std::string path_drive(std::string_view path);
std::string path_dir(std::string_view path);
std::string path_name(std::string_view path);
std::string path_ext(std::string_view path);
std::string path_drive_dir(std::string_view path);
// path_name + "." + path_ext; the "." is always there.
std::string path_name_ext(std::string_view path);

// Runs `body` once per non-empty item of a ";"-separated list, the item cut
// to `capacity` characters. Items are not trimmed.
void for_each_list_item(std::string_view list, std::size_t capacity,
                        const std::function<void(const std::string& item)>& body);

// Attribute bits as a directory entry carries them.
inline constexpr std::uint8_t attr_readonly = 0x01;
inline constexpr std::uint8_t attr_hidden = 0x02;
inline constexpr std::uint8_t attr_system = 0x04;
inline constexpr std::uint8_t attr_volume = 0x08;
inline constexpr std::uint8_t attr_directory = 0x10;
inline constexpr std::uint8_t attr_archive = 0x20;

struct dir_entry {
  std::string name;  // as the file system spells it
  std::string attrs;  // one letter per set bit from bit 0 up: "RHSVDA??"
  std::uint8_t hundredths = 0;  // always 0
  std::uint8_t seconds = 0;     // even, 0 to 58
  std::uint8_t minutes = 0;
  std::uint8_t hours = 0;
  std::uint8_t day = 0;
  std::uint8_t month = 0;
  std::uint16_t year = 0;  // from 1980
  std::uint32_t size = 0;  // the low 32 bits of the size
};

// The error number of the last step of a directory walk: the system's
// last-error value on failure (18 once the entries are exhausted), 0 after
// a successful step.
extern std::uint16_t last_find_error;

// The letters of dir_entry::attrs for a set of attribute bits.
std::string attr_letters(std::uint8_t attributes);

// True when the attributes pass the filter: letters of "rhsda"; an upper-case
// letter requires its attribute, a lower-case one forbids it. Any other
// letter is error 2024.
bool attr_matches(std::string_view filter, std::uint8_t attributes);

// Runs `body` once per entry of the directory that passes the filter, in the
// file system's order, skipping names that start with ".". The filter is
// checked before the walk. The find is closed on every way out.
void for_each_dir_entry(std::string_view directory, std::string_view filter,
                        const std::function<void(const dir_entry& entry)>& body);

// The full name (normalized) of the first file called `file_name` in the
// directories of `dir_list` (references expanded), or "" when there is none.
// A name with "\" or ":" is looked for in its own directory only.
std::string search_path(std::string_view dir_list, std::string_view file_name);
// search_path(".;%path%", file_name)
std::string search_on_path(std::string_view file_name);
// search_path(".;%_ewd%;%path%", file_name)
std::string search_on_ewd_path(std::string_view file_name);

void start_os_unit();
void stop_os_unit();

}  // namespace qlib
