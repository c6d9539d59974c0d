// URL splitting, the n-th occurrence search and month names.
#include "tcpip/url.hpp"

#include <array>
#include <string_view>

namespace tcpip {

std::string LowerLetters(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return lower;
}

void ParseURL(std::string url, std::string& protocol, std::string& user, std::string& password,
              std::string& host, std::string& port, std::string& path) {
  protocol.clear();
  user.clear();
  password.clear();
  host.clear();
  port.clear();
  path.clear();

  std::string rest;
  if (const std::size_t scheme_end = url.find("://"); scheme_end != std::string::npos) {
    protocol = url.substr(0, scheme_end);
    rest = url.substr(scheme_end + 3);
  } else if (LowerLetters(url.substr(0, 7)) == "mailto:") {
    protocol = "mailto";
    rest = url.substr(url.find(':') + 1);
  } else {
    rest = url;
  }

  const std::size_t slash = rest.find('/');
  if (slash != std::string::npos) path = rest.substr(slash);
  const std::string authority = rest.substr(0, slash);

  // Positions from 1, 0 for none.
  const auto length = static_cast<std::int32_t>(authority.size());
  std::int32_t colon = PosN(":", authority, -1);
  std::int32_t at = PosN("@", authority, -1);
  if (colon > length) colon = 0;
  if (at > length) at = 0;
  if (colon == 0 && at == 0) {
    host = authority;
    return;
  }

  std::string user_part;
  if (colon > at) {
    port = authority.substr(static_cast<std::size_t>(colon));
    host = authority.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(colon - at - 1));
    if (at == 0) return;
  } else {
    host = authority.substr(static_cast<std::size_t>(at));
  }
  user_part = authority.substr(0, static_cast<std::size_t>(at - 1));

  const std::size_t separator = user_part.find(':');
  if (separator == std::string::npos) {
    user = user_part;
    return;
  }
  user = user_part.substr(0, separator);
  password = user_part.substr(separator + 1);
}

std::int32_t PosN(const std::string& sub, const std::string& s, std::int32_t n) {
  const auto length = static_cast<std::int64_t>(s.size());
  if (n == 0) return 0;
  if (n > 0) {
    if (sub.empty()) return static_cast<std::int32_t>(length + n);
    std::int32_t found = 0;
    std::size_t from = 0;
    for (;;) {
      const std::size_t at = s.find(sub, from);
      if (at == std::string::npos) return static_cast<std::int32_t>(length + (n - found));
      if (++found == n) return static_cast<std::int32_t>(at + 1);
      from = at + 1;  // overlapping occurrences count
    }
  }
  if (sub.empty()) return 0;
  // Occurrences from the right, each starting one place left of the last.
  const std::int64_t wanted = -static_cast<std::int64_t>(n);
  std::int64_t found = 0;
  std::size_t before = std::string::npos;
  for (;;) {
    const std::size_t at = s.rfind(sub, before);
    if (at == std::string::npos) return 0;
    if (++found == wanted) return static_cast<std::int32_t>(at + 1);
    if (at == 0) return 0;
    before = at - 1;
  }
}

std::int32_t MonthFromName(const std::string& name) {
  static constexpr std::array<std::string_view, 12> months = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  const std::string lower = LowerLetters(name);
  for (std::size_t i = 0; i < months.size(); ++i)
    if (lower == months[i]) return static_cast<std::int32_t>(i + 1);
  return 0;
}

}  // namespace tcpip
