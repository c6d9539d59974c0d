// Unit _OS: command line, references, paths, directory walks and searches.
#include "lib/os.hpp"

#include <memory>

#include "lib/chars.hpp"
#include "lib/error_codes.hpp"
#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"

namespace qlib {
namespace {

constexpr const char* revision =
    "$Source: /quorvel/lib/os.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";

// A name derived from a name with "\" or ":" is searched again; names such
// as "AB:CD" derive themselves, so the chain of such searches is bounded.
constexpr int max_search_depth = 8;

bool is_name_char(char c) {
  return c == '!' || (c >= '0' && c <= '9') || (c >= '?' && c <= 'Z') || c == '_' ||
         (c >= 'a' && c <= 'z');
}

// The three positions (0-based) that split a normalized path: the start of
// the directory, of the name and of the extension (size() when absent).
struct path_split {
  std::size_t dir;
  std::size_t name;
  std::size_t ext;
};

path_split split_path(const std::string& path) {
  path_split split{0, 0, path.size()};
  if (path.size() >= 2 && path[1] == ':') {
    split.dir = 2;
  } else if (path.compare(0, 2, "\\\\") == 0) {
    split.dir = path.size();
    int seen = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
      if (path[i] == '\\' && ++seen == 4) {
        split.dir = i;
        break;
      }
    }
  }
  const auto last = path.find_last_of('\\');
  split.name = last == std::string::npos ? 0 : last + 1;
  if (split.name < split.dir) split.name = split.dir;
  const auto dot = path.find('.', split.name);
  split.ext = dot == std::string::npos ? path.size() : dot + 1;
  return split;
}

// Closes a find on every way out of a walk.
struct find_closer {
  void operator()(platform::find_state* handle) const { platform::find_close(handle); }
};

void fill_entry(const platform::find_data& data, dir_entry& entry) {
  entry.name = short_str(data.name);
  entry.attrs = attr_letters(static_cast<std::uint8_t>(data.attributes & 0xFF));
  entry.hundredths = 0;
  entry.seconds = static_cast<std::uint8_t>((data.write_time & 0x1F) * 2);
  entry.minutes = static_cast<std::uint8_t>((data.write_time >> 5) & 0x3F);
  entry.hours = static_cast<std::uint8_t>(data.write_time >> 11);
  entry.day = static_cast<std::uint8_t>(data.write_date & 0x1F);
  entry.month = static_cast<std::uint8_t>((data.write_date >> 5) & 0x0F);
  entry.year = static_cast<std::uint16_t>(1980 + (data.write_date >> 9));
  entry.size = static_cast<std::uint32_t>(data.size & 0xFFFFFFFFu);
}

// Looks for `file_name` along `dirs`: a ";"-separated list whose references
// are expanded, or, with `one_dir`, a single directory taken as it is.
std::string search_in(std::string_view dirs, bool one_dir, std::string_view file_name,
                      int depth) {
  const std::string name = normalize_path(file_name);
  if (name.find_first_of("\\:") != std::string::npos) {
    if (depth >= max_search_depth) return {};
    // The name's own directory is the only list item, even when it holds ";".
    return search_in(path_drive_dir(name), true, path_name_ext(name), depth + 1);
  }
  std::string result;
  const auto search_dir = [&](const std::string& item) {
    for_each_dir_entry(normalize_path(item), "", [&](const dir_entry& entry) {
      if (upper_ascii(entry.name) != name) return;
      result = normalize_path(item + "\\" + entry.name);
      throw os_error(break_code, "");
    });
  };
  try {
    if (!one_dir) {
      for_each_list_item(expand_vars(dirs), short_max, search_dir);
    } else if (!dirs.empty()) {
      search_dir(std::string(dirs));
    }
  } catch (const te_& error) {
    if (error.code() != break_code) throw;
  }
  return result;
}

}  // namespace

var_lookup_proc var_lookup = env_lookup;
std::uint16_t last_find_error = 0;

// Not inlined: the error names the code that called it.
__attribute__((noinline)) te_ os_error(int code, std::string_view context) {
  return make_error_at(QLIB_RETURN_ADDRESS(), code, "/unit=_os" + std::string(context));
}

std::string full_command_tail() {
  const std::string line = platform::command_line();
  // A program name in double quotes (a path with blanks, as the system
  // writes it) is skipped whole, with the blanks after it; an unquoted name
  // ends at the first blank.
  if (!line.empty() && line[0] == '"') {
    const auto quote = line.find('"', 1);
    if (quote == std::string::npos) return {};
    const auto rest = line.find_first_not_of(' ', quote + 1);
    return rest == std::string::npos ? std::string() : line.substr(rest);
  }
  const auto blank = line.find(' ');
  if (blank == std::string::npos) return {};
  return line.substr(blank + 1);
}

std::string command_tail() { return short_str(full_command_tail()); }

std::string expand_vars(std::string_view text) {
  std::string result;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto percent = text.find('%', i);
    if (percent == std::string_view::npos) {
      short_append(result, text.substr(i));
      break;
    }
    short_append(result, text.substr(i, percent - i));
    i = percent + 1;
    if (i < text.size() && text[i] == '%') {
      short_append(result, "%");
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && is_name_char(text[i])) ++i;
    short_append(result, var_lookup(text.substr(start, i - start)));
    if (i < text.size() && text[i] == '%') ++i;
  }
  return result;
}

std::string env_lookup(std::string_view name) {
  const std::string lower = lower_ascii(name);
  if (lower.empty()) return {};
  if (lower == "_ewd") return path_drive_dir(platform::program_file_name());
  if (lower.compare(0, 2, "!!") == 0) {
    std::string value = var_lookup(std::string_view(lower).substr(2));
    if (value.empty()) throw os_error(err_empty_required_reference, "");
    return value;
  }
  if (lower[0] == '!') {
    std::string value = var_lookup(std::string_view(lower).substr(1));
    if (value.empty()) throw os_error(err_empty_reference, "");
    return value;
  }
  if (lower[0] == '?') {
    const std::string_view rest = std::string_view(lower).substr(1);
    std::string value = var_lookup(rest);
    if (!value.empty()) return value;
    return short_str("%?" + std::string(rest) + "%");
  }
  std::string value;
  platform::get_environment_variable(lower, value);
  return short_str(value);
}

std::string normalize_path(std::string_view path) {
  std::string text = trim_blanks(path);
  for (char& c : text)
    if (c == '/') c = '\\';
  text = expand_vars(text);
  const bool network = text.compare(0, 2, "\\\\") == 0;
  std::string collapsed;
  for (const char c : text) {
    if (c == '\\' && !collapsed.empty() && collapsed.back() == '\\') continue;
    collapsed += c;
  }
  if (network) collapsed.insert(0, 1, '\\');
  return short_str(upper_ascii(collapsed));
}

std::string make_path(std::string_view drive, std::string_view directory, std::string_view name,
                      std::string_view extension) {
  std::string path = expand_vars(drive);
  const std::string dir = expand_vars(directory);
  const std::string base = expand_vars(name);
  const std::string ext = expand_vars(extension);
  for (char& c : path)
    if (c == '/') c = '\\';
  if (path.size() == 1) path += ':';
  if (path.compare(0, 2, "\\\\") == 0) path += '\\';
  short_append(path, dir);
  if (!dir.empty() && dir.back() != '/' && dir.back() != ':' && dir.back() != '\\')
    short_append(path, "\\");
  short_append(path, base);
  if (!ext.empty()) {
    if (!base.empty() && base.back() != '.' && ext.front() != '.') short_append(path, ".");
    short_append(path, ext);
  }
  return normalize_path(path);
}

std::string expand_dir(std::string_view directory) { return make_path("", directory, "", ""); }

std::string path_drive(std::string_view path) {
  const std::string text = normalize_path(path);
  return text.substr(0, split_path(text).dir);
}

std::string path_dir(std::string_view path) {
  const std::string text = normalize_path(path);
  const path_split split = split_path(text);
  return text.substr(split.dir, split.name - split.dir);
}

std::string path_name(std::string_view path) {
  const std::string text = normalize_path(path);
  const path_split split = split_path(text);
  std::size_t end = split.ext;
  if (end > split.name && end <= text.size() && text[end - 1] == '.') --end;
  return text.substr(split.name, end - split.name).substr(0, 8);
}

std::string path_ext(std::string_view path) {
  const std::string text = normalize_path(path);
  return text.substr(split_path(text).ext).substr(0, 3);
}

std::string path_drive_dir(std::string_view path) {
  const std::string text = normalize_path(path);
  return text.substr(0, split_path(text).name);
}

std::string path_name_ext(std::string_view path) { return path_name(path) + "." + path_ext(path); }

void for_each_list_item(std::string_view list, std::size_t capacity,
                        const std::function<void(const std::string& item)>& body) {
  std::size_t start = 0;
  while (start <= list.size()) {
    auto end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) body(std::string(list.substr(start, end - start).substr(0, capacity)));
    start = end + 1;
  }
}

std::string attr_letters(std::uint8_t attributes) {
  static constexpr char letters[] = "RHSVDA??";
  std::string text;
  for (int bit = 0; bit < 8; ++bit)
    if (attributes & (1u << bit)) text += letters[bit];
  return text;
}

bool attr_matches(std::string_view filter, std::uint8_t attributes) {
  bool passes = true;
  for (const char letter : filter) {
    std::uint8_t bit = 0;
    switch (lower_char(letter)) {
      case 'r':
        bit = attr_readonly;
        break;
      case 'h':
        bit = attr_hidden;
        break;
      case 's':
        bit = attr_system;
        break;
      case 'd':
        bit = attr_directory;
        break;
      case 'a':
        bit = attr_archive;
        break;
      default:
        throw os_error(err_bad_attribute_letter, "");
    }
    const bool required = letter >= 'A' && letter <= 'Z';
    if (((attributes & bit) != 0) != required) passes = false;
  }
  return passes;
}

void for_each_dir_entry(std::string_view directory, std::string_view filter,
                        const std::function<void(const dir_entry& entry)>& body) {
  attr_matches(filter, 0);
  platform::find_data data;
  std::unique_ptr<platform::find_state, find_closer> find(
      platform::find_first_file(normalize_path(directory) + "\\*.*", data));
  bool found = find != nullptr;
  last_find_error = found ? 0 : static_cast<std::uint16_t>(platform::get_last_error());
  dir_entry entry;
  while (found) {
    const auto attributes = static_cast<std::uint8_t>(data.attributes & 0xFF);
    if (data.name.empty() || data.name[0] != '.') {
      if (attr_matches(filter, attributes)) {
        fill_entry(data, entry);
        body(entry);
      }
    }
    found = platform::find_next_file(find.get(), data);
    last_find_error = found ? 0 : static_cast<std::uint16_t>(platform::get_last_error());
  }
}

std::string search_path(std::string_view dir_list, std::string_view file_name) {
  return search_in(dir_list, false, file_name, 0);
}

std::string search_on_path(std::string_view file_name) {
  return search_path(".;%path%", file_name);
}

std::string search_on_ewd_path(std::string_view file_name) {
  return search_path(".;%_ewd%;%path%", file_name);
}

void start_os_unit() {
  if (register_banner(revision)) return;
  var_lookup = env_lookup;
  last_find_error = 0;
}
void stop_os_unit() {}

}  // namespace qlib
