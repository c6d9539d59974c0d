// A listening TCP socket for a small server: accepting, time-limited reads and
// writes on its connections, and a stop switch that wakes every wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Connections are plain handles; -1 is none.
using connection_handle = int;

enum class read_status {
  data,       // some bytes arrived
  closed,     // the peer closed its side
  timed_out,  // nothing arrived before the deadline
  stopped,    // the server was told to stop
  failed,     // the connection broke
};

struct read_result {
  read_status status;
  std::size_t count;  // bytes read when status is data
};

class server_socket {
 public:
  using deadline = std::chrono::steady_clock::time_point;

  server_socket();
  ~server_socket();
  server_socket(const server_socket&) = delete;
  server_socket& operator=(const server_socket&) = delete;

  // Listens on host:port (IPv4; the host's first address; port 0 lets the
  // system choose). False with the reason in `error` when it cannot.
  bool listen(const std::string& host, std::uint16_t port, std::string& error);
  // The port actually bound; 0 before listen.
  std::uint16_t port() const { return port_; }

  // Waits for the next connection; -1 once stop() was called.
  connection_handle accept();

  // Reads what has arrived, waiting until the deadline at most; a stop ends the wait.
  read_result read(connection_handle connection, char* buffer, std::size_t size,
                   deadline until) const;
  // Writes all of data before the deadline; false when the connection broke or
  // the time ran out. A stop does not cut a response short.
  static bool write(connection_handle connection, std::string_view data, deadline until);
  // Closes the handle at once.
  static void close(connection_handle connection);
  // After an answer: ends the sending side, lets the peer read to the end
  // (dropping what it still sends, for two seconds at most), then closes.
  static void close_after_answer(connection_handle connection);

  // Stops the server: accept returns -1 and waiting reads end. Safe from any
  // thread and from a signal handler.
  void stop();
  bool stopped() const;

  // Makes SIGINT and SIGTERM stop this server (the last one asked, one per
  // process), and lets writes to a closed peer fail instead of raising SIGPIPE.
  void stop_on_signals();

 private:
  int listen_fd_ = -1;
  int wake_read_fd_ = -1;   // readable once stop() has written to it
  int wake_write_fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace platform
