// Unit _CONVERT: yes_no and the integer expression evaluator.
#include "lib/convert.hpp"

#include <string>

#include "lib/error_codes.hpp"

namespace qlib {
namespace {

constexpr const char* revision =
    "$Source: /quorvel/lib/convert.cpp $ $Revision: 1.9 $ $State: Exp $ "
    "$Date: 2026/12/02 11:40:03 $ $Author: quorvel $";

enum class token {
  end,
  number,     // digits, "$" hexadecimal or base "$" digits
  character,  // a constant in double quotes
  open,
  close,
  plus,
  minus,
  times,
  divide,  // "/" and ":"
  modulo,
  bit_and,
  bit_or,
  tilde,  // unary not, binary exclusive or
  bit_xor,  // "><"
  equal,
  bang,
  less,
  greater,
  less_equal,
  greater_equal,
  not_equal,
  shift_left,
  shift_right,
};

bool is_digit_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::uint32_t digit_value(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
  if (c >= 'a' && c <= 'z') return static_cast<std::uint32_t>(c - 'a' + 10);
  return static_cast<std::uint32_t>(c - 'A' + 10);
}

// Recursive-descent evaluation; all arithmetic is unsigned 32-bit, so results
// wrap around as the language's 32-bit integers do.
class evaluator {
 public:
  explicit evaluator(std::string_view text) : text_(text) { advance(); }

  std::int32_t run() {
    const std::uint32_t value = relation();
    if (current_ != token::end) throw convert_error(err_text_left, "");
    return static_cast<std::int32_t>(value);
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  token current_ = token::end;
  std::uint32_t value_ = 0;  // of the current number or character token

  char peek(std::size_t offset = 0) const {
    return pos_ + offset < text_.size() ? text_[pos_ + offset] : '\0';
  }

  void advance() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    if (pos_ >= text_.size() || text_[pos_] == '\x1a') {
      current_ = token::end;
      return;
    }
    const char c = text_[pos_];
    if ((c >= '0' && c <= '9') || c == '$') return scan_number();
    if (c == '"') return scan_character();
    ++pos_;
    switch (c) {
      case '(': current_ = token::open; return;
      case ')': current_ = token::close; return;
      case '+': current_ = token::plus; return;
      case '-': current_ = token::minus; return;
      case '*': current_ = token::times; return;
      case '/':
      case ':': current_ = token::divide; return;
      case '%': current_ = token::modulo; return;
      case '&': current_ = token::bit_and; return;
      case '|': current_ = token::bit_or; return;
      case '~': current_ = token::tilde; return;
      case '=': current_ = token::equal; return;
      case '!': current_ = token::bang; return;
      case '<':
        current_ = two_char('=', token::less_equal, '>', token::not_equal, '<', token::shift_left,
                            token::less);
        return;
      case '>':
        current_ = two_char('=', token::greater_equal, '<', token::bit_xor, '>',
                            token::shift_right, token::greater);
        return;
      default:
        throw convert_error(err_no_token, "");
    }
  }

  token two_char(char a, token ta, char b, token tb, char c, token tc, token single) {
    const char next = peek();
    if (next == a || next == b || next == c) ++pos_;
    if (next == a) return ta;
    if (next == b) return tb;
    if (next == c) return tc;
    return single;
  }

  void scan_number() {
    std::uint32_t base = 10;
    std::uint32_t value = 0;
    std::uint64_t exact = 0;  // the digits read so far, saturated, to check a base
    bool seen_dollar = false;
    bool has_digits = false;
    for (char c = peek(); is_digit_char(c) || c == '_' || c == '$'; c = peek()) {
      ++pos_;
      if (c == '_') continue;
      if (c == '$') {
        if (seen_dollar) throw convert_error(err_bad_base, "");
        seen_dollar = true;
        const std::uint64_t new_base = has_digits ? exact : 16;
        if (new_base < 2 || new_base > 36) throw convert_error(err_bad_base, "");
        base = static_cast<std::uint32_t>(new_base);
        value = 0;
        exact = 0;
        has_digits = false;
        continue;
      }
      const std::uint32_t digit = digit_value(c);
      if (digit >= base) throw convert_error(err_bad_digit, "");
      value = value * base + digit;
      exact = exact > 1000 ? exact : exact * base + digit;
      has_digits = true;
    }
    value_ = value;
    current_ = token::number;
  }

  void scan_character() {
    ++pos_;  // opening quote
    std::uint32_t value = 0;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') {
        if (peek() != '"') break;
        ++pos_;
      }
      value = (value << 8) | static_cast<unsigned char>(c);
    }
    value_ = value;
    current_ = token::character;
  }

  std::uint32_t relation() {
    std::uint32_t left = sum();
    for (;;) {
      const token op = current_;
      if (op != token::less && op != token::greater && op != token::equal &&
          op != token::not_equal && op != token::less_equal && op != token::greater_equal) {
        return left;
      }
      advance();
      const auto a = static_cast<std::int32_t>(left);
      const auto b = static_cast<std::int32_t>(sum());
      bool result = false;
      switch (op) {
        case token::less: result = a < b; break;
        case token::greater: result = a > b; break;
        case token::equal: result = a == b; break;
        case token::not_equal: result = a != b; break;
        case token::less_equal: result = a <= b; break;
        case token::greater_equal: result = a >= b; break;
        default: break;
      }
      left = result ? 1 : 0;
    }
  }

  std::uint32_t sum() {
    const token unary = current_;
    const bool has_unary = unary == token::plus || unary == token::minus ||
                           unary == token::tilde || unary == token::bang;
    if (has_unary) advance();
    std::uint32_t left = term();
    if (unary == token::minus) left = 0u - left;
    if (unary == token::tilde) left = ~left;
    if (unary == token::bang) left = left == 0 ? 1 : 0;
    for (;;) {
      const token op = current_;
      if (op == token::number) {  // "1 2" adds
        left += term();
        continue;
      }
      if (op != token::plus && op != token::minus && op != token::bit_or &&
          op != token::bit_xor && op != token::tilde) {
        return left;
      }
      advance();
      const std::uint32_t right = term();
      switch (op) {
        case token::plus: left += right; break;
        case token::minus: left -= right; break;
        case token::bit_or: left |= right; break;
        default: left ^= right; break;  // "><" and "~"
      }
    }
  }

  std::uint32_t term() {
    std::uint32_t left = factor();
    for (;;) {
      const token op = current_;
      if (op == token::open) {  // "2(3)" multiplies
        left *= factor();
        continue;
      }
      if (op != token::times && op != token::divide && op != token::modulo &&
          op != token::bit_and && op != token::shift_left && op != token::shift_right) {
        return left;
      }
      advance();
      const std::uint32_t right = factor();
      switch (op) {
        case token::times: left *= right; break;
        case token::divide: left = divide(left, right, false); break;
        case token::modulo: left = divide(left, right, true); break;
        case token::bit_and: left &= right; break;
        case token::shift_left: left <<= (right & 31u); break;
        default: left >>= (right & 31u); break;  // logical shift right
      }
    }
  }

  static std::uint32_t divide(std::uint32_t left, std::uint32_t right, bool remainder) {
    if (right == 0) throw platform::EDivByZero();
    const auto a = static_cast<std::int32_t>(left);
    const auto b = static_cast<std::int32_t>(right);
    if (b == -1) return remainder ? 0u : 0u - left;  // INT32_MIN / -1 wraps
    return static_cast<std::uint32_t>(remainder ? a % b : a / b);
  }

  std::uint32_t factor() {
    if (current_ == token::number || current_ == token::character) {
      const std::uint32_t value = value_;
      advance();
      return value;
    }
    if (current_ != token::open) throw convert_error(err_operand_expected, "");
    advance();
    const std::uint32_t value = relation();
    if (current_ != token::close) throw convert_error(err_close_expected, "");
    advance();
    return value;
  }
};

}  // namespace

// Not inlined: the error names the code that called it.
__attribute__((noinline)) te_ convert_error(int code, std::string_view context) {
  return make_error_at(QLIB_RETURN_ADDRESS(), code, "/unit=_convert" + std::string(context));
}

bool yes_no(std::string_view value) {
  if (value.empty()) throw convert_error(err_yes_no_empty, "");
  if (value == " ") return true;
  switch (value.front()) {
    case '+': case '1': case 'J': case 'Y': case 'j': case 'y':
      return true;
    case '-': case '0': case 'N': case 'n':
      return false;
    default:
      throw convert_error(err_yes_no_neither, "");
  }
}

std::int32_t eval_int(std::string_view value) {
  const auto last = value.find_last_not_of(' ');
  if (last == std::string_view::npos) return 0;
  return evaluator(value.substr(0, last + 1)).run();
}

void start_convert_unit() { register_banner(revision); }
void stop_convert_unit() {}

}  // namespace qlib
