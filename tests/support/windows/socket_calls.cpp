// The scripted server's socket calls on Windows Sockets, started once per
// test program before the first socket. A shutdown does not end a receive
// that waits already (under Wine; only a close does), so connections are
// non-blocking and wait in short rounds that end once the socket is shut.
#include "tests/support/socket_calls.hpp"

#include <mutex>
#include <set>
#include <stdexcept>

#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/loopback_address.hpp"

namespace testing_support::socket_calls {
namespace {

SOCKET native(int fd) { return static_cast<SOCKET>(static_cast<std::uint32_t>(fd)); }

void start_winsock() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("test socket: WSAStartup failed");
}

// The tests start quorvel.exe and other programs; the server's sockets are
// not theirs to inherit.
int own_socket(SOCKET s) {
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<int>(s);
}

std::mutex shut_mutex;
std::set<SOCKET> shut_sockets;

bool is_shut(SOCKET s) {
  std::lock_guard lock(shut_mutex);
  return shut_sockets.count(s) != 0;
}

// Waits until the connection can be read or written; false once it is shut
// or broken.
bool wait_ready(SOCKET s, bool writing) {
  for (;;) {
    if (is_shut(s)) return false;
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(s, &ready);
    timeval round{0, 50000};
    const int count =
        ::select(0, writing ? nullptr : &ready, writing ? &ready : nullptr, nullptr, &round);
    if (count != 0) return count > 0;
  }
}

}  // namespace

int bound_loopback(bool listening, std::uint16_t& port, int backlog) {
  start_winsock();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) throw std::runtime_error("test socket: socket failed");
  const int fd = own_socket(s);
  sockaddr_in address = loopback_address(0);
  int length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listening && ::listen(s, backlog) != 0) ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("test socket: cannot bind");
  }
  port = ntohs(address.sin_port);
  return fd;
}

int connected_to_loopback(std::uint16_t port) {
  start_winsock();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return -1;
  const int fd = own_socket(s);
  const sockaddr_in address = loopback_address(port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int accept_connection(int listener) {
  const SOCKET s = ::accept(native(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  u_long non_blocking = 1;
  ::ioctlsocket(s, FIONBIO, &non_blocking);
  return own_socket(s);
}

long receive(int fd, char* buffer, std::size_t size) {
  for (;;) {
    if (!wait_ready(native(fd), false)) return -1;
    const int got = ::recv(native(fd), buffer, static_cast<int>(size), 0);
    if (got >= 0) return got;
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return -1;
  }
}

bool send_all(int fd, std::string_view data) {
  std::size_t at = 0;
  while (at < data.size()) {
    if (!wait_ready(native(fd), true)) return false;
    const int sent = ::send(native(fd), data.data() + at, static_cast<int>(data.size() - at), 0);
    if (sent < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) continue;
    if (sent <= 0) return false;
    at += static_cast<std::size_t>(sent);
  }
  return true;
}

void finish_sending(int fd) { ::shutdown(native(fd), SD_SEND); }

void reset_on_close(int fd) {
  const linger abort{1, 0};
  ::setsockopt(native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
               sizeof abort);
}

void shut(int fd) {
  {
    std::lock_guard lock(shut_mutex);
    shut_sockets.insert(native(fd));
  }
  ::shutdown(native(fd), SD_BOTH);
}

// Only closing a listening socket ends a waiting accept here.
void stop_listening(int& listener) {
  close(listener);
  listener = -1;
}

void close(int fd) {
  if (fd < 0) return;
  {
    std::lock_guard lock(shut_mutex);
    shut_sockets.erase(native(fd));
  }
  ::closesocket(native(fd));
}

std::uint16_t port_of(int fd, bool peer) {
  sockaddr_in address{};
  int length = sizeof address;
  auto* named = reinterpret_cast<sockaddr*>(&address);
  if ((peer ? ::getpeername(native(fd), named, &length)
            : ::getsockname(native(fd), named, &length)) != 0)
    return 0;
  return ntohs(address.sin_port);
}

}  // namespace testing_support::socket_calls
