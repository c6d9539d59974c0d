// The listening socket on POSIX: BSD sockets in non-blocking mode, one poll
// for every wait, and two pipes: one that turns readable for good on stop and
// one that other threads write to so that a wait ends early.
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

#include "platform/waits.hpp"

namespace platform {
namespace {

// The write end of the stop pipe of the server that signals stop, -1 for none.
std::atomic<int> signal_stop_fd{-1};

void write_byte(int fd) {
  if (fd < 0) return;
  const char byte = 's';
  // A full pipe already says what the byte would say.
  [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
}

extern "C" void on_stop_signal(int) {
  const int saved = errno;
  write_byte(signal_stop_fd.load());
  errno = saved;
}

int milliseconds_until(server_socket::deadline until) {
  if (until == server_socket::deadline::max()) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      until - monotonic_now());
  if (left.count() <= 0) return 0;
  // Round up so that a wait never ends just before the deadline and spins.
  return left.count() > 1000000 ? 1000000 : static_cast<int>(left.count()) + 1;
}

bool make_pipe(int& read_end, int& write_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  read_end = fds[0];
  write_end = fds[1];
  return true;
}

void close_if_open(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

server_socket::server_socket() {
  if (!make_pipe(stop_read_fd_, stop_write_fd_)) return;
  if (make_pipe(wake_read_fd_, wake_write_fd_)) return;
  ::close(stop_read_fd_);
  ::close(stop_write_fd_);
  stop_read_fd_ = stop_write_fd_ = -1;
}

server_socket::~server_socket() {
  int expected = stop_write_fd_;
  if (expected >= 0 && signal_stop_fd.compare_exchange_strong(expected, -1)) {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
  }
  close_if_open(listen_fd_);
  close_if_open(stop_read_fd_);
  close_if_open(stop_write_fd_);
  close_if_open(wake_read_fd_);
  close_if_open(wake_write_fd_);
}

bool server_socket::listen(const std::string& host, std::uint16_t port, std::string& error) {
  if (stop_read_fd_ < 0) {
    error = "cannot create the stop pipes: " + std::string(std::strerror(errno));
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

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = "cannot create a socket: " + std::string(std::strerror(errno));
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // A long queue: many clients may connect at once while the loop is busy.
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 1024) != 0) {
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

accept_result server_socket::try_accept() {
  for (;;) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) return {accept_status::accepted, fd};
    switch (errno) {
      case EINTR:
      case ECONNABORTED:  // the peer gave up while it waited; take the next one
        continue;
      case EAGAIN:
#if EAGAIN != EWOULDBLOCK
      case EWOULDBLOCK:
#endif
        return {accept_status::none_waiting, -1};
      case EMFILE:
      case ENFILE:
      case ENOBUFS:
      case ENOMEM:
        return {accept_status::out_of_handles, -1};
      default:
        return {accept_status::failed, -1};
    }
  }
}

wait_result server_socket::wait(std::vector<watched_connection>& connections, bool accepting,
                                bool watch_stop, deadline until) {
  std::vector<pollfd> fds;
  fds.reserve(connections.size() + 3);
  for (watched_connection& c : connections) {
    c.ready = false;
    fds.push_back({c.connection, static_cast<short>(c.for_writing ? POLLOUT : POLLIN), 0});
  }
  const std::size_t wake_at = fds.size();
  fds.push_back({wake_read_fd_, POLLIN, 0});
  const std::size_t listen_at = accepting ? fds.size() : 0;
  if (accepting) fds.push_back({listen_fd_, POLLIN, 0});
  const std::size_t stop_at = watch_stop ? fds.size() : 0;
  if (watch_stop) fds.push_back({stop_read_fd_, POLLIN, 0});

  wait_result result;
  // EINTR (a signal) ends the wait with nothing ready; the caller looks again.
  if (::poll(fds.data(), fds.size(), milliseconds_until(until)) <= 0) return result;
  for (std::size_t i = 0; i < connections.size(); ++i) connections[i].ready = fds[i].revents != 0;
  if (fds[wake_at].revents != 0) {
    result.woken = true;
    char drain[64];
    while (::read(wake_read_fd_, drain, sizeof drain) > 0) {
    }
  }
  result.incoming = accepting && fds[listen_at].revents != 0;
  result.stop_requested = watch_stop && fds[stop_at].revents != 0;
  return result;
}

void server_socket::wake() { write_byte(wake_write_fd_); }

read_result server_socket::read(connection_handle connection, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(connection, buffer, size, MSG_DONTWAIT);
    if (n > 0) return {read_status::data, static_cast<std::size_t>(n)};
    if (n == 0) return {read_status::closed, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {read_status::nothing_yet, 0};
    return {read_status::failed, 0};
  }
}

long server_socket::write(connection_handle connection, std::string_view data) {
  for (;;) {
    const ssize_t n = ::send(connection, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

void server_socket::limit_send_buffer(connection_handle connection, std::size_t bytes) {
  const int size = bytes > 1u << 30 ? 1 << 30 : static_cast<int>(bytes);
  ::setsockopt(connection, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

void server_socket::finish_sending(connection_handle connection) {
  if (connection >= 0) ::shutdown(connection, SHUT_WR);
}

void server_socket::close(connection_handle connection) {
  if (connection >= 0) ::close(connection);
}

void server_socket::stop() { write_byte(stop_write_fd_); }

bool server_socket::stopped() const {
  if (stop_read_fd_ < 0) return true;
  pollfd fd{stop_read_fd_, POLLIN, 0};
  return ::poll(&fd, 1, 0) > 0;
}

void server_socket::stop_on_signals() {
  signal_stop_fd.store(stop_write_fd_);
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform
