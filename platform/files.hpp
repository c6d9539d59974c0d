// The file system as the original platform shows it: paths with "\" and an
// optional drive, names that ignore case, file attributes, packed file dates
// and a find-first/find-next directory enumeration with a last-error number.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/runtime.hpp"

namespace platform {

// File attribute bits.
inline constexpr std::uint32_t file_attribute_readonly = 0x01;
inline constexpr std::uint32_t file_attribute_hidden = 0x02;
inline constexpr std::uint32_t file_attribute_system = 0x04;
inline constexpr std::uint32_t file_attribute_directory = 0x10;
inline constexpr std::uint32_t file_attribute_archive = 0x20;

// The system's last-error numbers that the file functions set.
inline constexpr std::uint32_t error_success = 0;
inline constexpr std::uint32_t error_file_not_found = 2;
inline constexpr std::uint32_t error_path_not_found = 3;
inline constexpr std::uint32_t error_too_many_open_files = 4;
inline constexpr std::uint32_t error_access_denied = 5;
inline constexpr std::uint32_t error_invalid_handle = 6;
inline constexpr std::uint32_t error_not_enough_memory = 8;
inline constexpr std::uint32_t error_no_more_files = 18;
inline constexpr std::uint32_t error_gen_failure = 31;

// The last-error number of the calling thread's last file call.
std::uint32_t get_last_error();

// Turns a library path ("\" separators, upper case, optional drive "X:")
// into the host path it stands for: "\" becomes "/", a drive prefix is
// dropped, "." and ".." are resolved on the text (".." at the root stays
// there; at the start of a relative path it goes above the current
// directory), and every component that exists on disk is matched ignoring
// case (an exact match first, else the smallest matching name); a component
// that does not exist keeps its text, and so does everything after it.
// What it learns of a directory (the spellings found, or the whole listing
// for long names) is kept while the directory's modification time stays the
// same, so that a test costs the same in a directory of any size.
std::string host_path(std::string_view library_path);

// True when the library path names an existing entry that is not a directory.
// A present file costs one system call for its own name.
bool file_exists(std::string_view library_path);

// One entry of a directory enumeration.
struct find_data {
  std::uint32_t attributes = 0;   // file_attribute_* bits
  std::uint16_t write_date = 0;   // last write, packed date: day, month, year - 1980
  std::uint16_t write_time = 0;   // last write, packed time: seconds / 2, minutes, hours
  std::uint64_t size = 0;         // in bytes
  std::string name;               // as the file system spells it
};

// An enumeration in progress; each system reads a directory its own way.
class find_state {
 public:
  virtual ~find_state() = default;
  // The next matching entry; false at the end (last error
  // error_no_more_files) or on failure.
  virtual bool next(find_data& data) = 0;
};
using find_handle = find_state*;
inline constexpr find_handle invalid_find_handle = nullptr;

// Starts an enumeration of the entries that match `pattern`, a library path
// whose last component may hold "*" and "?" ("DIR\*.*" lists everything in
// DIR); names match ignoring case; "." and ".." are entries too, and the
// order is the file system's. Fills `data` with the first entry; on failure returns
// invalid_find_handle and sets the last error (error_file_not_found when
// the directory has no matching entry).
find_handle find_first_file(std::string_view pattern, find_data& data);
// The next entry; false at the end (last error error_no_more_files) or on
// failure (error_invalid_handle for invalid_find_handle).
bool find_next_file(find_handle handle, find_data& data);
// Ends an enumeration; invalid_find_handle is ignored.
void find_close(find_handle handle);

// Raised when a file cannot be created: "Cannot create file "NAME". REASON".
class EFCreateError : public Exception {
 public:
  using Exception::Exception;
  const char* class_name() const noexcept override { return "EFCreateError"; }
  std::unique_ptr<Exception> copy() const override;
  [[noreturn]] void raise() const override;
};

// Raised when the bytes of a file cannot all be written:
// "Stream write error. REASON".
class EWriteError : public Exception {
 public:
  using Exception::Exception;
  const char* class_name() const noexcept override { return "EWriteError"; }
  std::unique_ptr<Exception> copy() const override;
  [[noreturn]] void raise() const override;
};

// Makes `data` the whole content of the new file named by the library path.
// The file appears whole or not at all, also after a kill or a power cut: the
// bytes go to a temporary file in the target directory, which reaches the
// disk before it is given the name. No strip pattern matches a temporary
// file; one that a killed run left behind is removed by a later write into
// that directory, once its process no longer runs. When the new name itself
// is sure to outlast a power cut is said at sync_written_directories.
// When a file of that name exists, it is kept unchanged and the write counts
// as done: the program writes only names that it has just found missing, so
// such a file is a whole one that another run wrote meanwhile. A directory of
// that name cannot be replaced (EFCreateError).
// A failure raises EFCreateError or EWriteError and leaves neither the file
// nor a temporary one.
void write_file_atomically(std::string_view library_path, std::string_view data);

// How many writes of a group wait at most before their names appear.
inline constexpr std::size_t write_group_size = 32;

// write_file_atomically with its name given later, together with others: the
// bytes go to a file without a name (or with a hidden one), whose write-back
// starts at once. The names of the writes waiting appear at the next
// name_written_files(), and whenever write_group_size of them wait, once the
// bytes of all of them are durable. A program that ends or is killed
// meanwhile loses the waiting ones: a name never stands on a file that is
// not whole. file_exists counts the name of a waiting write as there.
void write_file_in_group(std::string_view library_path, std::string_view data);

// Makes the bytes of the waiting writes durable and gives them their names.
// A sync that fails names none of them (EWriteError); a name that cannot be
// given does not keep the others from theirs (the first raises EFCreateError
// after). Either way no write waits any more.
void name_written_files();

// Makes the names that write_file_atomically has given since the last call
// outlast a power cut; until then a power cut can lose such a name, never
// leave it naming a file that is not whole. Where the system makes each name
// durable as it is given, there is nothing left to do. False when that
// failed (the names stay; the next call tries again).
bool sync_written_directories() noexcept;

// Appends `text` to the file named by the library path, through the same path
// mapping as every other file call, creating the file when it does not exist.
// False when the file cannot be opened or not all of the text was written.
bool append_to_file(std::string_view library_path, std::string_view text);

}  // namespace platform
