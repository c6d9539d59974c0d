// A listening TCP socket for a small event-driven server: non-blocking
// accepts, reads and writes on its connections, one wait over all of them,
// a wake-up for other threads and a stop switch that a signal can throw.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Connections are plain handles; -1 is none.
using connection_handle = int;

enum class accept_status {
  accepted,        // `connection` is a new connection
  none_waiting,    // no connection is waiting now
  out_of_handles,  // one is waiting, but the process has no handle left for it
  failed,          // the accept failed for another reason; try again later
};

struct accept_result {
  accept_status status;
  connection_handle connection;  // -1 unless accepted
};

enum class read_status {
  data,          // some bytes arrived
  nothing_yet,   // nothing has arrived; wait and read again
  closed,        // the peer closed its side
  failed,        // the connection broke
};

struct read_result {
  read_status status;
  std::size_t count;  // bytes read when status is data
};

// A connection the wait watches: for bytes to read, or for room to write.
struct watched_connection {
  connection_handle connection = -1;
  bool for_writing = false;
  bool ready = false;  // set by wait: the read or write would not block (or fails at once)
};

struct wait_result {
  bool stop_requested = false;  // stop() was called (only when the wait watched for it)
  bool incoming = false;        // a connection is waiting to be accepted
  bool woken = false;           // wake() was called since the last wait
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

  // Takes the next waiting connection without blocking; it is non-blocking too.
  accept_result try_accept();

  // Waits until a watched connection is ready, a connection comes in (when
  // `accepting`), wake() is called, stop() is called (when `watch_stop`), or
  // the deadline of monotonic_now() (platform/waits.hpp) passes. Marks the
  // ready connections.
  wait_result wait(std::vector<watched_connection>& connections, bool accepting, bool watch_stop,
                   deadline until);
  // Ends the current or the next wait from any thread.
  void wake();

  // Reads what has arrived without blocking.
  static read_result read(connection_handle connection, char* buffer, std::size_t size);
  // Writes what the connection takes now without blocking: the count written,
  // -1 when the connection broke.
  static long write(connection_handle connection, std::string_view data);
  // Caps the bytes the system holds for sending on the connection.
  static void limit_send_buffer(connection_handle connection, std::size_t bytes);
  // Ends the sending side: the peer reads the end of the data.
  static void finish_sending(connection_handle connection);
  static void close(connection_handle connection);

  // Stops the server: every later wait that watches for it ends at once.
  // Safe from any thread and from a signal handler.
  void stop();
  bool stopped() const;

  // Makes SIGINT and SIGTERM stop this server (the last one asked, one per
  // process), and lets writes to a closed peer fail instead of raising SIGPIPE.
  void stop_on_signals();

 private:
  int listen_fd_ = -1;
  int stop_read_fd_ = -1;  // readable for good once stop() has written to it
  int stop_write_fd_ = -1;
  int wake_read_fd_ = -1;  // readable after wake() until the next wait drains it
  int wake_write_fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace platform
