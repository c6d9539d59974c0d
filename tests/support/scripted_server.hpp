// A scripted TCP server on 127.0.0.1 for the tests: it records the exact bytes
// each connection sends and answers with exact bytes (any status line,
// headers, a body, cut off or not), or closes, resets, or stays silent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testing_support {

// 127.0.0.1 in network byte order, as the socket components hold addresses.
inline constexpr std::uint32_t loopback = 0x0100007Fu;

// `size` bytes of every value, zero among them, in a pattern that does not
// repeat at short distances, for bodies that must arrive exactly.
inline std::string patterned_bytes(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 31 + i / 7);
  return data;
}

// What the server does on one connection.
struct scripted_answer {
  enum class ending {
    close,   // half-close after the writes, so the client reads the end of the data
    reset,   // abort with a reset after the writes
    silent,  // after the writes say nothing more and keep the connection open
    endless,  // after the writes send filler bytes until the client goes
    deaf,     // after the writes neither read nor send until the server stops
  };

  // Wait for the request's empty line (or the end of the connection) before
  // answering. An unprompted answer goes out as soon as the connection is
  // accepted.
  bool read_request = true;
  // Each sent with a send call of its own, in order.
  std::vector<std::string> writes;
  ending end = ending::close;
  // A pause before each write after the first (the server stops early when
  // the client goes or the server stops), on the stepped clock where a test
  // steps it (tests/support/stepped_time.hpp): silent and deaf endings then
  // let the client's wait step the clock to its deadline.
  std::chrono::milliseconds gap{0};

  // The bytes as they are, then the ending.
  static scripted_answer bytes(std::string data, ending end = ending::close);
  // status_line CR LF, each header CR LF, CR LF, body; then a close.
  static scripted_answer http(std::string_view status_line,
                              std::initializer_list<std::string_view> headers,
                              std::string_view body);
  static scripted_answer closing() { return bytes(""); }
  static scripted_answer resetting() { return bytes("", ending::reset); }
  static scripted_answer silent() { return bytes("", ending::silent); }

  // Answers without waiting for a request.
  scripted_answer& unprompted();
  // Splits everything into writes of at most size bytes each.
  scripted_answer& in_pieces(std::size_t size);
  // Cuts the answer after its first count bytes (the rest is never sent).
  scripted_answer& cut_after(std::size_t count);
  scripted_answer& then(ending how);
  // Pauses `pause` before each write after the first.
  scripted_answer& paced(std::chrono::milliseconds pause);
};

// Serves connections on its own threads. An answer is chosen per connection:
// a route for the request's target, else the next answer of the sequence,
// else the fallback (a 404 unless set).
class scripted_server {
 public:
  scripted_server();
  explicit scripted_server(std::vector<scripted_answer> sequence);
  ~scripted_server();
  scripted_server(const scripted_server&) = delete;
  scripted_server& operator=(const scripted_server&) = delete;

  std::uint16_t port() const { return port_; }
  // "127.0.0.1:PORT"
  std::string address() const;
  // "http://127.0.0.1:PORT" followed by path.
  std::string url(std::string_view path = "/") const;

  // The answer to the next connection that no route takes.
  void add(scripted_answer answer);
  // The answer to every request whose target is path, or an absolute URL
  // with that path (as sent to a proxy or with the full URL).
  void route(std::string path, scripted_answer answer);
  void set_fallback(scripted_answer answer);

  // Answers the first `first_free` requests at once, then holds every answer
  // until `count` requests wait for theirs at once or 10 s have passed; from
  // then on answers as requests come.
  void hold_answers(std::size_t count, std::size_t first_free = 0);
  // The most requests that waited for their answers at once: a client's next
  // request on a connection slot can only follow its last answer.
  std::size_t most_waiting() const;

  // Connections accepted so far.
  std::size_t connections() const;
  // Waits until count connections have been accepted (at most timeout_ms).
  bool wait_for_connections(std::size_t count, int timeout_ms = 10000) const;
  // The exact bytes received on connection index (0 first), once it has
  // ended: the client closed or reset it, or the server reset it. Waits at
  // most timeout_ms; then gives what has arrived so far.
  std::string request(std::size_t index, int timeout_ms = 10000) const;
  // Waits until connection index has ended (at most timeout_ms); true if it has.
  bool wait_for_end(std::size_t index, int timeout_ms = 10000) const;
  // Every accepted connection's bytes, each as request() gives them.
  std::vector<std::string> requests(int timeout_ms = 10000) const;
  // The request targets (second word of the first line), in connection order.
  std::vector<std::string> targets(int timeout_ms = 10000) const;

  // Closes the listening socket and every connection and joins the threads.
  void stop();

 private:
  struct connection;
  void accept_loop();
  void serve(const std::shared_ptr<connection>& conn);
  // Waits `pause` on the connection of the client's port; false when the
  // server stops meanwhile.
  bool pause_unless_stopping(std::uint16_t port, std::chrono::milliseconds pause);
  scripted_answer choose(const std::string& received);

  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<scripted_answer> sequence_;
  std::size_t next_ = 0;
  std::map<std::string, scripted_answer> routes_;
  scripted_answer fallback_;
  std::vector<std::shared_ptr<connection>> connections_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;
  std::size_t hold_until_ = 0;  // 0 once released
  std::size_t free_before_hold_ = 0;
  std::size_t waiting_ = 0;
  std::size_t most_waiting_ = 0;
  std::thread acceptor_;
};

// A loopback port that is bound but not listening: a connect to it is refused.
class refused_port {
 public:
  refused_port();
  ~refused_port();
  refused_port(const refused_port&) = delete;
  refused_port& operator=(const refused_port&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A loopback port that listens but never accepts, its one queue place taken:
// a further connect to it gets no answer and waits.
class unanswered_port {
 public:
  unanswered_port();
  ~unanswered_port();
  unanswered_port(const unanswered_port&) = delete;
  unanswered_port& operator=(const unanswered_port&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  int queued_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace testing_support
