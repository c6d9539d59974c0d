// The comics server's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/archive_day.hpp"

namespace server {

struct server_options {
  std::string host;
  std::uint16_t port = 0;
  int days = 30;
  std::optional<day> today;
  bool log = false;
  int timeout_seconds = 30;
  int latency_ms = 0;  // how long after its connection came in an answer starts
  std::optional<std::string> archive;  // a folder of strips to show
  bool help = false;
  bool version = false;
};

inline constexpr int max_days = 3660;
inline constexpr int max_latency_ms = 60000;

// Reads the arguments after the program name. The listening address defaults
// to the host and port of `base_url` ("http://host[:port]", port 80 when it
// names none). On a mistake: nothing, and the reason in `error`.
std::optional<server_options> parse_options(const std::vector<std::string>& args,
                                            std::string_view base_url, std::string& error);

// The text of --help.
std::string usage_text(std::string_view base_url);

// What the start-up line says of the archived days: "no archived days",
// "2024-03-05 only", "today and 1 day before", ...
std::string archive_range(const server_options& options);

}  // namespace server
