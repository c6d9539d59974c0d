// Text helpers of the unit tcpip: splitting a URL into its parts, the n-th
// occurrence of a text, and the number of a three-letter month name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tcpip {

// Splits url into protocol, user, password, host, port and path. All six are
// emptied first; nothing is decoded, trimmed or defaulted (but a "mailto:" in
// any case gives the protocol "mailto"), and it never fails.
// The path begins at the first "/" after the protocol; the port follows the
// last colon of the part before it, the user part precedes its last "@", and a
// colon in the user part separates the password.
void ParseURL(std::string url, std::string& protocol, std::string& user, std::string& password,
              std::string& host, std::string& port, std::string& path);

// The position (from 1) of the n-th occurrence of sub in s, overlapping
// occurrences included: counted from the left for n > 0, from the right for
// n < 0. Too few occurrences give the length of s plus the number missing for
// n > 0 (a position beyond the end), and 0 for n < 0; n = 0 gives 0. An empty
// sub is never found.
std::int32_t PosN(const std::string& sub, const std::string& s, std::int32_t n);

// 1 to 12 for "jan" to "dec" in any case, 0 for anything else.
std::int32_t MonthFromName(const std::string& name);

// The text with the letters A to Z in lower case, nothing else changed.
std::string LowerLetters(std::string_view text);

}  // namespace tcpip
