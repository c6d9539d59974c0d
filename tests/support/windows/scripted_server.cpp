// The scripted test server on Windows Sockets: one acceptor thread and one
// thread per connection, as on POSIX; socket handles are kept in the int of
// the shared header (kernel handles carry 32 significant bits).
#include "tests/support/scripted_server.hpp"

#include <chrono>
#include <cstdint>
#include <stdexcept>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace testing_support {

scripted_answer scripted_answer::bytes(std::string data, ending end) {
  scripted_answer answer;
  if (!data.empty()) answer.writes.push_back(std::move(data));
  answer.end = end;
  return answer;
}

scripted_answer scripted_answer::http(std::string_view status_line,
                                      std::initializer_list<std::string_view> headers,
                                      std::string_view body) {
  std::string data(status_line);
  data += "\r\n";
  for (std::string_view header : headers) {
    data += header;
    data += "\r\n";
  }
  data += "\r\n";
  data += body;
  return bytes(std::move(data));
}

scripted_answer& scripted_answer::unprompted() {
  read_request = false;
  return *this;
}

scripted_answer& scripted_answer::in_pieces(std::size_t size) {
  std::string all;
  for (const std::string& write : writes) all += write;
  writes.clear();
  for (std::size_t at = 0; at < all.size(); at += size) writes.push_back(all.substr(at, size));
  return *this;
}

scripted_answer& scripted_answer::cut_after(std::size_t count) {
  std::vector<std::string> kept;
  for (const std::string& write : writes) {
    if (count == 0) break;
    kept.push_back(write.substr(0, count));
    count -= kept.back().size();
  }
  writes = std::move(kept);
  return *this;
}

scripted_answer& scripted_answer::then(ending how) {
  end = how;
  return *this;
}

struct scripted_server::connection {
  int fd = -1;  // -1 once closed; guarded by the server's mutex
  std::string received;
  bool ended = false;
  bool has_answer = false;
  scripted_answer answer;
};

namespace {

SOCKET native(int fd) { return static_cast<SOCKET>(static_cast<std::uint32_t>(fd)); }
void close_socket(int fd) { ::closesocket(native(fd)); }

// The tests start quorvel.exe and other programs; the server's sockets are
// not theirs to inherit.
void not_inherited(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

// Winsock is started once per test program, before the first server.
void start_winsock() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("test socket: WSAStartup failed");
}

std::string target_of(const std::string& request) {
  const std::size_t line_end = request.find_first_of("\r\n");
  const std::string line = request.substr(0, line_end);
  const std::size_t first = line.find(' ');
  if (first == std::string::npos) return "";
  const std::size_t second = line.find(' ', first + 1);
  return line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

// The path of an absolute URL ("/" when it has none), or the target itself.
std::string path_of(const std::string& target) {
  const std::size_t scheme = target.find("://");
  if (scheme == std::string::npos) return target;
  const std::size_t slash = target.find('/', scheme + 3);
  return slash == std::string::npos ? "/" : target.substr(slash);
}

bool send_all(int fd, const std::string& data) {
  std::size_t at = 0;
  while (at < data.size()) {
    const int sent = ::send(native(fd), data.data() + at, static_cast<int>(data.size() - at), 0);
    if (sent <= 0) return false;
    at += static_cast<std::size_t>(sent);
  }
  return true;
}

// A socket bound to 127.0.0.1 on a port the system assigns, listening (with
// the given backlog) or not.
int bound_loopback_socket(bool listening, std::uint16_t& port, int backlog = 16) {
  start_winsock();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) throw std::runtime_error("test socket: socket failed");
  not_inherited(s);
  const int fd = static_cast<int>(s);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listening && ::listen(s, backlog) != 0) ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close_socket(fd);
    throw std::runtime_error("test socket: cannot bind");
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

refused_port::refused_port() { fd_ = bound_loopback_socket(false, port_); }
refused_port::~refused_port() { close_socket(fd_); }

unanswered_port::unanswered_port() {
  fd_ = bound_loopback_socket(true, port_, 0);
  // A backlog of 0 holds one connection; this one fills it, so the kernel
  // drops the handshake of any further connect.
  const SOCKET queued = ::socket(AF_INET, SOCK_STREAM, 0);
  queued_ = queued == INVALID_SOCKET ? -1 : static_cast<int>(queued);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port_);
  if (queued_ < 0 ||
      ::connect(queued, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (queued_ >= 0) close_socket(queued_);
    close_socket(fd_);
    throw std::runtime_error("test socket: cannot fill the queue");
  }
}

unanswered_port::~unanswered_port() {
  close_socket(queued_);
  close_socket(fd_);
}

scripted_server::scripted_server()
    : fallback_(scripted_answer::http("HTTP/1.0 404 Not Found", {}, "no scripted answer")) {
  listen_fd_ = bound_loopback_socket(true, port_);
  acceptor_ = std::thread([this] { accept_loop(); });
}

scripted_server::scripted_server(std::vector<scripted_answer> sequence) : scripted_server() {
  std::lock_guard lock(mutex_);
  sequence_ = std::move(sequence);
}

scripted_server::~scripted_server() { stop(); }

std::string scripted_server::address() const { return "127.0.0.1:" + std::to_string(port_); }

std::string scripted_server::url(std::string_view path) const {
  return "http://" + address() + std::string(path);
}

void scripted_server::add(scripted_answer answer) {
  std::lock_guard lock(mutex_);
  sequence_.push_back(std::move(answer));
}

void scripted_server::route(std::string path, scripted_answer answer) {
  std::lock_guard lock(mutex_);
  routes_[std::move(path)] = std::move(answer);
}

void scripted_server::set_fallback(scripted_answer answer) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(answer);
}

std::size_t scripted_server::connections() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

bool scripted_server::wait_for_connections(std::size_t count, int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return connections_.size() >= count; });
}

std::string scripted_server::request(std::size_t index, int timeout_ms) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return index < connections_.size() && connections_[index]->ended;
  });
  if (index >= connections_.size()) return "";
  return connections_[index]->received;
}

bool scripted_server::wait_for_end(std::size_t index, int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return index < connections_.size() && connections_[index]->ended;
  });
}

std::vector<std::string> scripted_server::requests(int timeout_ms) const {
  std::vector<std::string> all;
  for (std::size_t i = 0; i < connections(); ++i) all.push_back(request(i, timeout_ms));
  return all;
}

std::vector<std::string> scripted_server::targets(int timeout_ms) const {
  std::vector<std::string> all;
  for (const std::string& request : requests(timeout_ms)) all.push_back(target_of(request));
  return all;
}

void scripted_server::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    // Closing the listening socket is what ends a waiting accept here.
    close_socket(listen_fd_);
    for (const auto& conn : connections_)
      if (conn->fd >= 0) ::shutdown(native(conn->fd), SD_BOTH);
  }
  acceptor_.join();
  for (std::thread& thread : threads_) thread.join();
}

void scripted_server::accept_loop() {
  for (;;) {
    const SOCKET accepted = ::accept(native(listen_fd_), nullptr, nullptr);
    std::lock_guard lock(mutex_);
    if (accepted == INVALID_SOCKET) return;
    not_inherited(accepted);
    const int fd = static_cast<int>(accepted);
    if (stopping_) {
      close_socket(fd);
      return;
    }
    const BOOL one = TRUE;
    ::setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                 sizeof one);
    auto conn = std::make_shared<connection>();
    conn->fd = fd;
    // An unprompted answer is taken in the order of the connections.
    if (next_ < sequence_.size() && !sequence_[next_].read_request) {
      conn->answer = sequence_[next_++];
      conn->has_answer = true;
    }
    connections_.push_back(conn);
    threads_.emplace_back([this, conn] { serve(conn); });
    changed_.notify_all();
  }
}

scripted_answer scripted_server::choose(const std::string& received) {
  const std::string target = target_of(received);
  std::lock_guard lock(mutex_);
  if (auto found = routes_.find(target); found != routes_.end()) return found->second;
  if (auto found = routes_.find(path_of(target)); found != routes_.end()) return found->second;
  if (next_ < sequence_.size()) return sequence_[next_++];
  return fallback_;
}

void scripted_server::serve(const std::shared_ptr<connection>& conn) {
  int fd;
  {
    std::lock_guard lock(mutex_);
    fd = conn->fd;
  }
  bool open = true;
  auto read_some = [&] {
    char buffer[4096];
    const int got = ::recv(native(fd), buffer, sizeof buffer, 0);
    if (got <= 0) {
      open = false;
      return;
    }
    std::lock_guard lock(mutex_);
    conn->received.append(buffer, static_cast<std::size_t>(got));
  };
  auto received_header = [&] {
    std::lock_guard lock(mutex_);
    return conn->received.find("\r\n\r\n") != std::string::npos;
  };

  scripted_answer answer = conn->answer;
  if (!conn->has_answer) {
    while (open && !received_header()) read_some();
    std::string so_far;
    {
      std::lock_guard lock(mutex_);
      so_far = conn->received;
    }
    answer = choose(so_far);
  }
  for (const std::string& write : answer.writes)
    if (!send_all(fd, write)) break;

  switch (answer.end) {
    case scripted_answer::ending::reset: {
      const linger abort{1, 0};
      ::setsockopt(native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof abort);
      break;
    }
    case scripted_answer::ending::close:
      ::shutdown(native(fd), SD_SEND);
      while (open) read_some();
      break;
    case scripted_answer::ending::silent:
      while (open) read_some();
      break;
  }
  std::lock_guard lock(mutex_);
  close_socket(fd);
  conn->fd = -1;
  conn->ended = true;
  changed_.notify_all();
}

}  // namespace testing_support
