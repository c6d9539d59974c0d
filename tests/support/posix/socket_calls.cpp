// The scripted server's socket calls on BSD sockets.
#include "tests/support/socket_calls.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "tests/support/loopback_address.hpp"

namespace testing_support::socket_calls {

int bound_loopback(bool listening, std::uint16_t& port, int backlog) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("test socket: socket failed");
  sockaddr_in address = loopback_address(0);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listening && ::listen(fd, backlog) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("test socket: cannot bind");
  }
  port = ntohs(address.sin_port);
  return fd;
}

int connected_to_loopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr_in address = loopback_address(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int accept_connection(int listener) {
  int fd;
  do fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

long receive(int fd, char* buffer, std::size_t size) {
  ssize_t got;
  do got = ::recv(fd, buffer, size, 0);
  while (got < 0 && errno == EINTR);
  return got < 0 ? -1 : static_cast<long>(got);
}

bool send_all(int fd, std::string_view data) {
  std::size_t at = 0;
  while (at < data.size()) {
    const ssize_t sent = ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    at += static_cast<std::size_t>(sent);
  }
  return true;
}

void finish_sending(int fd) { ::shutdown(fd, SHUT_WR); }

void reset_on_close(int fd) {
  const linger abort{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

void shut(int fd) { ::shutdown(fd, SHUT_RDWR); }

// Shutting a listening socket down ends a waiting accept; the socket stays
// open until the acceptor is gone.
void stop_listening(int& listener) { ::shutdown(listener, SHUT_RDWR); }

void close(int fd) {
  if (fd >= 0) ::close(fd);
}

std::uint16_t port_of(int fd, bool peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  auto* named = reinterpret_cast<sockaddr*>(&address);
  if ((peer ? ::getpeername(fd, named, &length) : ::getsockname(fd, named, &length)) != 0) return 0;
  return ntohs(address.sin_port);
}

}  // namespace testing_support::socket_calls
