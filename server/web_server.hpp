// The comics server's connection handling: one thread per connection reads a
// request head within a time limit, answers it from the site and closes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "platform/server_socket.hpp"
#include "server/archive_day.hpp"
#include "server/http_exchange.hpp"

namespace server {

struct server_settings {
  std::optional<day> fixed_today;       // the local clock's day when not set
  int days = 30;
  bool log = false;                     // one line per request on the log stream
  std::chrono::seconds read_limit{30};  // for a whole request head, and for an answer
  std::size_t max_connections = 256;    // more wait in the listen queue
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
exchange answer_request(std::string_view head, day today, int days);

class web_server {
 public:
  web_server(platform::server_socket& socket, server_settings settings, std::ostream& log);

  // Serves until the socket is stopped, then waits for the open connections.
  void run();

 private:
  void handle(platform::connection_handle connection);
  void write_log(const exchange& done, std::size_t bytes);
  day today() const;

  platform::server_socket& socket_;
  const server_settings settings_;
  std::ostream& log_;
  std::mutex log_mutex_;
  std::mutex count_mutex_;
  std::condition_variable slot_free_;
  std::size_t running_ = 0;
};

}  // namespace server
