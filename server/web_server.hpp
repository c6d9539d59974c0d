// The comics server's connection handling: one event loop reads the request
// heads of all connections, each within a time limit, answers pages and
// cached strips itself, leaves the strips to render to a few worker threads,
// and sends the answers, each once its latency has passed. Its clock is the
// platform's monotonic one (platform/waits.hpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/server_socket.hpp"
#include "server/archive_day.hpp"
#include "server/http_exchange.hpp"
#include "server/strip_cache.hpp"
#include "server/strip_source.hpp"

namespace server {

struct server_settings {
  std::optional<day> fixed_today;  // the local clock's day when not set
  int days = 30;
  bool log = false;  // one line per request on the log stream
  // For a whole request head from the connection's start, and again for an answer to leave.
  std::chrono::milliseconds read_limit{std::chrono::seconds(30)};
  // Connections read or answered at once; past it the oldest one still sending its head goes.
  std::size_t max_connections = 1024;
  std::size_t workers = 0;  // threads answering requests; 0: one per processor, 2 to 8
  std::size_t cache_bytes = std::size_t{64} << 20;  // rendered images kept for later requests
  std::size_t send_buffer = 0;  // bytes the system holds for sending per connection; 0: its choice
  // How long after its connection was accepted an answer may start, as from a server far
  // away; the connection waits without holding up the others.
  std::chrono::milliseconds latency{0};
  // A folder of strips that quorvel wrote, shown in place of the drawn strips; read anew
  // for every request, never written.
  std::optional<std::string> archive;
};

// The longest request head read; a longer one is answered with 400.
inline constexpr std::size_t max_head_size = 16384;

// The answer to a complete request head (method, target and status for the log).
struct exchange {
  response answer;
  bool head_only = false;
  std::string method = "-";
  std::string target = "-";
};
// With a cache, images are answered from it when it holds them and kept in
// it otherwise; the answers depend on the path and the archived days only.
exchange answer_request(std::string_view head, day today, int days, strip_cache* cache = nullptr);
// The answer from another source of strips, uncached.
exchange answer_request(std::string_view head, const strip_source& source);

class web_server {
 public:
  web_server(platform::server_socket& socket, server_settings settings, std::ostream& log);

  // Serves until the socket is stopped, then finishes the answers under way.
  void run();

  const strip_cache& cache() const { return cache_; }

 private:
  class event_loop;
  friend class event_loop;

  day today() const;

  platform::server_socket& socket_;
  const server_settings settings_;
  std::ostream& log_;
  strip_cache cache_;
};

}  // namespace server
