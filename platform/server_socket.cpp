// The listening socket on POSIX: BSD sockets, poll for every wait, and a pipe
// whose read end turns readable on stop so that all waits end together.
#include "platform/server_socket.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// The write end of the wake pipe of the server that signals stop, -1 for none.
std::atomic<int> signal_wake_fd{-1};

extern "C" void on_stop_signal(int) {
  const int saved = errno;
  const int fd = signal_wake_fd.load();
  if (fd >= 0) {
    const char byte = 's';
    [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
  }
  errno = saved;
}

int milliseconds_until(server_socket::deadline until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      until - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  // Round up so that a wait never ends just before the deadline and spins.
  return left.count() > 1000000 ? 1000000 : static_cast<int>(left.count()) + 1;
}

}  // namespace

server_socket::server_socket() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  wake_read_fd_ = fds[0];
  wake_write_fd_ = fds[1];
}

server_socket::~server_socket() {
  int expected = wake_write_fd_;
  if (expected >= 0 && signal_wake_fd.compare_exchange_strong(expected, -1)) {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
  }
  if (listen_fd_ >= 0) ::close(listen_fd_);
  if (wake_read_fd_ >= 0) ::close(wake_read_fd_);
  if (wake_write_fd_ >= 0) ::close(wake_write_fd_);
}

bool server_socket::listen(const std::string& host, std::uint16_t port, std::string& error) {
  if (wake_read_fd_ < 0) {
    error = "cannot create the stop pipe: " + std::string(std::strerror(errno));
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const int lookup = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (lookup != 0 || found == nullptr) {
    error = "cannot resolve " + host + ": " + ::gai_strerror(lookup);
    return false;
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);
  address.sin_port = htons(port);

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = "cannot create a socket: " + std::string(std::strerror(errno));
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 128) != 0) {
    error = "cannot listen on " + host + ":" + std::to_string(port) + ": " +
            std::strerror(errno);
    ::close(fd);
    return false;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.sin_port);
  listen_fd_ = fd;
  return true;
}

connection_handle server_socket::accept() {
  while (!stopped()) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_read_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;  // EINTR: a signal, look again
    if (fds[1].revents != 0) return -1;
    if (fds[0].revents == 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // Out of handles: give running connections a moment to end instead of spinning.
      pollfd wake{wake_read_fd_, POLLIN, 0};
      ::poll(&wake, 1, 100);
    }
  }
  return -1;
}

read_result server_socket::read(connection_handle connection, char* buffer, std::size_t size,
                                deadline until) const {
  for (;;) {
    pollfd fds[2] = {{connection, POLLIN, 0}, {wake_read_fd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, milliseconds_until(until));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {read_status::failed, 0};
    }
    if (fds[1].revents != 0) return {read_status::stopped, 0};
    if (ready == 0) return {read_status::timed_out, 0};
    const ssize_t n = ::recv(connection, buffer, size, MSG_DONTWAIT);
    if (n > 0) return {read_status::data, static_cast<std::size_t>(n)};
    if (n == 0) return {read_status::closed, 0};
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return {read_status::failed, 0};
  }
}

bool server_socket::write(connection_handle connection, std::string_view data, deadline until) {
  while (!data.empty()) {
    pollfd fd{connection, POLLOUT, 0};
    const int ready = ::poll(&fd, 1, milliseconds_until(until));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (ready == 0) return false;
    const ssize_t n = ::send(connection, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void server_socket::close(connection_handle connection) {
  if (connection >= 0) ::close(connection);
}

void server_socket::close_after_answer(connection_handle connection) {
  if (connection < 0) return;
  // Closing with unread request bytes would reset the connection and could
  // destroy the answer before the client reads it: end the sending side, then
  // read and drop what is left for a short while.
  ::shutdown(connection, SHUT_WR);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  char discard[4096];
  for (std::size_t total = 0; total < 1 << 20;) {
    pollfd fd{connection, POLLIN, 0};
    const int ready = ::poll(&fd, 1, milliseconds_until(until));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t n = ::recv(connection, discard, sizeof discard, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  ::close(connection);
}

void server_socket::stop() {
  if (wake_write_fd_ < 0) return;
  const char byte = 's';
  [[maybe_unused]] const ssize_t ignored = ::write(wake_write_fd_, &byte, 1);
}

bool server_socket::stopped() const {
  if (wake_read_fd_ < 0) return true;
  pollfd fd{wake_read_fd_, POLLIN, 0};
  return ::poll(&fd, 1, 0) > 0;
}

void server_socket::stop_on_signals() {
  signal_wake_fd.store(wake_write_fd_);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform
