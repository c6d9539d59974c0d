// Unit _PARAMS: line scanning, includes, parameter files, values, quoting and
// the enciphered lines of parameter files.
#include "lib/params.hpp"

#include <string>

#include "lib/chars.hpp"
#include "lib/convert.hpp"
#include "lib/error_codes.hpp"
#include "lib/os.hpp"
#include "lib/types.hpp"

namespace qlib {
namespace {

constexpr const char* revision =
    "$Source: /quorvel/lib/params.cpp $ $Revision: 1.1 $ $State: Exp $ "
    "$Date: 2026/11/30 09:12:40 $ $Author: quorvel $";

// Files that include one another by names that differ in spelling escape the
// exact name check; past this many enclosing files an include counts as one
// of a file that is already being read.
constexpr int max_include_depth = 32;

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool is_comment_start(std::string_view text) {
  return starts_with(text, "(*") || starts_with(text, "--") || starts_with(text, "/*") ||
         starts_with(text, "//");
}

// The constants of the enciphered lines.
constexpr std::uint32_t stream_multiplier = 214013u;
constexpr std::uint32_t stream_increment = 2531011u;
constexpr std::uint32_t length_seed_factor = 0x2F6Bu;
constexpr std::uint32_t length_seed_constant = 0x5A17u;
constexpr std::uint32_t hash_seed_factor = 0x1F35u;
constexpr std::uint32_t hash_multiplier = 0x0101A3u;

// XORs the offset from 0x20 of every character in 0x20..0x9F within
// [first, end) with a 7-bit key from the generator, so that it stays there.
void run_stream(std::string& text, std::size_t first, std::size_t end, std::uint32_t seed) {
  std::uint32_t state = seed;
  for (std::size_t i = first; i < end; ++i) {
    state = state * stream_multiplier + stream_increment;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c > 0x9F) continue;
    const auto key = static_cast<unsigned char>((state >> 16) & 0x7F);
    text[i] = static_cast<char>(((c - 0x20) ^ key) + 0x20);
  }
}

std::uint32_t first_seed(char first, char last) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(first)) << 8) |
         static_cast<unsigned char>(last);
}

std::uint32_t length_seed(std::size_t length) {
  return static_cast<std::uint32_t>(length) * length_seed_factor + length_seed_constant;
}

// Both bytes of the check value are printable (0x20 to 0x9F).
std::uint16_t line_check(std::string_view text) {
  std::uint32_t hash = static_cast<std::uint32_t>(text.size()) * hash_seed_factor;
  for (const char c : text) hash = hash * hash_multiplier + static_cast<unsigned char>(c);
  const std::uint32_t folded = (hash >> 16) ^ (hash & 0xFFFFu);
  return static_cast<std::uint16_t>((folded & 0x7F7Fu) + 0x2020u);
}

}  // namespace

// Not inlined: the error names the code that called it.
__attribute__((noinline)) te_ params_error(int code, std::string_view context) {
  return make_error_at(QLIB_RETURN_ADDRESS(), code, "/unit=_params" + std::string(context));
}

void t_par_base::done() {
  child.reset();
  t_object::done();
}

std::uint8_t t_par_base::get_kind() {
  const std::string text = trim_blanks(param_text());
  if (text.empty() || text[0] == ';' || text[0] == '{' || is_comment_start(text)) return 0;
  if (text[0] == '#') return 1;
  return 2;
}

std::string t_par_base::get_name() { return split_param(param_text()).first; }
std::string t_par_base::get_raw_value() { return split_param(param_text()).second; }
std::string t_par_base::get_value() { return expand_vars(get_raw_value()); }
std::int32_t t_par_base::get_int() { return eval_int(get_value()); }
bool t_par_base::get_yes_no() { return yes_no(get_value()); }

void t_param::done() {
  child.reset();  // it reads `file`
  file.reset();
  t_par_base::done();
}

void t_param::start(std::uint8_t source_level, std::string_view text) {
  level = source_level;
  activate();
  line = short_str(strip_parens(expand_vars(text)));
  mark = 1;
  pos = 1;
}

std::string t_param::current_text() const {
  const auto first = static_cast<std::size_t>(mark - 1);
  if (first >= line.size() || pos <= mark) return {};
  return trim_blanks(std::string_view(line).substr(first, static_cast<std::size_t>(pos - mark)));
}

// Advances `pos` over one parameter; it starts on a non-blank character.
void t_param::scan_parameter() {
  const auto length = static_cast<std::int32_t>(line.size());
  const auto at = [&](std::int32_t p) { return line[static_cast<std::size_t>(p - 1)]; };
  const auto to_closing_quote = [&] {
    do ++pos;
    while (pos <= length && at(pos) != '"');
    if (pos > length) throw make_class_error(class_name(), err_open_quote, "");
  };
  for (;;) {
    const char c = at(pos);
    if (c == '"') {
      to_closing_quote();
    } else if (c == '(') {
      ++pos;
      if (pos > length) throw make_class_error(class_name(), err_open_parenthesis, "");
      if (at(pos) == '*') {
        pos = length;  // "(*": the rest of the line is a comment
      } else {
        for (int depth = 1;;) {
          const char d = at(pos);
          if (d == '"') {
            to_closing_quote();
          } else if (d == '(') {
            ++depth;
          } else if (d == ')' && --depth == 0) {
            break;
          }
          ++pos;
          if (pos > length) throw make_class_error(class_name(), err_open_parenthesis, "");
        }
      }
    } else if (c == ')') {
      throw make_class_error(class_name(), err_stray_parenthesis, "");
    }
    ++pos;
    if (pos > length || at(pos) == ' ' || at(pos) == '/') return;
  }
}

void t_param::include(const std::string& text) {
  std::string rest = text.substr(1);
  bool optional = false;
  if (!rest.empty() && rest[0] == '@') {
    optional = true;
    rest.erase(0, 1);
  }
  std::string name;
  try {
    if (!rest.empty() && rest[0] == '*')
      name = search_on_path(rest.substr(1));
    else if (!rest.empty() && rest[0] == '?')
      name = search_on_ewd_path(rest.substr(1));
    else
      name = expand_vars(rest);
    file = open_param_file(name);
    auto nested = create_object<t_par_file>();
    nested->start(level, file.get());
    nested->parent = this;
    child = std::move(nested);
    int files = 0;
    for (t_par_base* source = this; source; source = source->parent) {
      const auto* reading = dynamic_cast<const t_par_file*>(source);
      if (!reading) continue;
      if (reading->file->file_name == file->file_name || ++files >= max_include_depth)
        throw make_class_error(class_name(), err_include_loop, "");
    }
  } catch (const std::exception&) {
    if (current_error_code() == err_include_loop) throw;
    child.reset();
    file.reset();
    if (optional) return;
    throw make_class_error(class_name(), err_include_failed, "/name=" + quote_str(expand_vars(name)));
  }
}

bool t_param::next_param() {
  if (!active) return false;
  for (;;) {
    if (child) {
      active = child->next_param() ? 1 : 0;
      if (!active) {
        child.reset();
        file.reset();
      }
      if (active) return true;
    }

    ++count;
    const auto length = static_cast<std::int32_t>(line.size());
    while (pos <= length && line[static_cast<std::size_t>(pos - 1)] == ' ') ++pos;
    mark = pos;
    if (pos <= length) scan_parameter();

    const std::string text = current_text();
    active = text.empty() ? 0 : 1;
    if (text.empty()) {
      if (level != 0) return false;
      // A line of blanks, trimmed by set-up, is an empty line: one empty parameter.
      active = mark == 1 ? 1 : 0;
      mark = 2;
      pos = 2;
      return active;
    }

    if (text[0] == '@') {
      include(text);
      continue;
    }
    if (text[0] == ';' || text[0] == '{' ||
        is_comment_start(std::string_view(line).substr(static_cast<std::size_t>(mark - 1))))
      pos = length + 1;  // the comment runs to the end of the line

    const std::uint8_t kind = get_kind();
    if (lower_ascii(get_name()) == "if") {
      mark = get_int() == 0 ? length + 1 : pos;
      pos = mark;
      continue;
    }
    if (kind >= level) return true;
  }
}

std::string t_param::param_text() {
  if (!active) throw make_class_error(class_name(), err_no_current_param, "");
  if (child) return child->param_text();
  return current_text();
}

std::string t_param::param_position() { return std::to_string(count); }

void t_par_file::start(std::uint8_t source_level, t_file* source) {
  level = source_level;
  activate();
  file = source;
}

bool t_par_file::next_param() {
  if (!active) return false;
  for (;;) {
    if (child) {
      active = child->next_param() ? 1 : 0;
      if (!active) child.reset();
      if (active) return true;
    }
    if (file->at_end()) {
      active = 0;
      return false;
    }
    ++count;
    std::string text = short_str(file->read_line());
    if (text == "---CIF---") {
      ciphered = 1;
      continue;
    }
    if (ciphered) text = decipher_line(text);
    line = trim_blanks(expand_vars(text));
    auto nested = create_object<t_param>();
    nested->start(level, line);
    nested->parent = this;
    child = std::move(nested);
  }
}

std::string t_par_file::param_text() {
  if (!active) throw make_class_error(class_name(), err_no_current_param, "");
  if (child) return child->param_text();
  return line;
}

std::string t_par_file::param_position() {
  return short_str(file->file_name + "#" + std::to_string(count));
}

std::pair<std::string, std::string> split_param(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '/')) text.remove_prefix(1);
  const auto separator = text.find_first_of(":=");
  if (separator != std::string_view::npos)
    return {std::string(text.substr(0, separator)), std::string(text.substr(separator + 1))};
  if (!text.empty() && (text.back() == '+' || text.back() == '-'))
    return {std::string(text.substr(0, text.size() - 1)), std::string(text.substr(text.size() - 1))};
  return {std::string(text), " "};
}

std::string strip_parens(std::string_view text) {
  std::string result = trim_blanks(text);
  while (result.size() > 1 && result[0] == '(' && result[1] != '*' && result.back() == ')')
    result = trim_blanks(std::string_view(result).substr(1, result.size() - 2));
  return result;
}

std::string quote_str(std::string_view text) {
  auto result = quoted(text);
  if (!result) throw params_error(err_quoted_too_long, "");
  return *result;
}

std::string unquote_str(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
  std::string result(text.substr(1, text.size() - 2));
  for (std::size_t i = 0; i + 1 < result.size(); ++i)
    if (result[i] == '"' && result[i + 1] == '"') result.erase(i, 1);
  return result;
}

std::string decipher_line(std::string_view line) {
  std::string text = trim_right_blanks(line);
  if (text.empty()) return text;
  if (text.size() < 4) throw params_error(err_bad_ciphered_line, "");
  const auto check = static_cast<std::uint16_t>((static_cast<unsigned char>(text[1]) << 8) |
                                                static_cast<unsigned char>(text[2]));
  run_stream(text, 3, text.size(), first_seed(text.front(), text.back()));
  run_stream(text, 3, text.size(), length_seed(text.size()));
  text = text.substr(3, text.size() - 4);
  if (line_check(text) != check) throw params_error(err_bad_ciphered_line, "");
  return text;
}

std::string encipher_line(std::string_view text) {
  const std::uint16_t check = line_check(text);
  // Character 1 and the last one only seed the stream; any non-blank will do.
  const auto first = static_cast<char>(0x21 + check % 94);
  const auto last = static_cast<char>(0x21 + (check >> 8) % 94);
  std::string line;
  line += first;
  line += static_cast<char>(check >> 8);
  line += static_cast<char>(check & 0xFF);
  line += text;
  line += last;
  // The deciphering streams XOR, so the same streams encipher; the last
  // character is left as chosen because it seeds the first stream.
  run_stream(line, 3, line.size() - 1, first_seed(first, last));
  run_stream(line, 3, line.size() - 1, length_seed(line.size()));
  return line;
}

void for_each_param(std::uint8_t level, std::string_view source, std::size_t name_capacity,
                    const std::function<void(t_par_base& current, const std::string& name)>& body) {
  owned<t_param> current = create_object<t_param>();
  current->start(level, source);
  while (current->next_param())
    body(*current, short_str(lower_ascii(current->get_name()), name_capacity));
}

void start_params_unit() {
  if (register_banner(revision)) return;
}
void stop_params_unit() {}

}  // namespace qlib
