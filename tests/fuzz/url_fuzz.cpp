// Fuzz target: ParseURL, whose parts are always pieces of the URL (the
// protocol "mailto" as written in any case) and the path its end.
#include <string>

#include "tcpip/url.hpp"
#include "tests/fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  std::string protocol, user, password, host, port, path;
  tcpip::ParseURL(url, protocol, user, password, host, port, path);
  for (const std::string* part : {&user, &password, &host, &port})
    fuzz::require(url.find(*part) != std::string::npos);
  fuzz::require(tcpip::LowerLetters(url).find(tcpip::LowerLetters(protocol)) != std::string::npos);
  fuzz::require(url.ends_with(path));
  return 0;
}
