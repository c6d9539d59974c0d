// The socket library on BSD sockets: errno mapped to the library's numbers in
// one place, blocking calls made of non-blocking ones and the one wait with a
// deadline, and host lookups on helper threads. The event registration is in
// socket_events.cpp.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

// Last: it drops the C library's byte-order macros.
#include "platform/posix/socket_events.hpp"
#include "platform/posix/socket_registration.hpp"

namespace platform {
namespace {

thread_local int last_error = 0;

}  // namespace

// The one place that maps errno to the socket library's numbers. Numbers the
// library does not know pass through unchanged: they are all below 10000 and
// so never equal one of its own.
int detail::translate_errno(int error) {
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS) return WSAEWOULDBLOCK;
  switch (error) {
    case ENOTCONN: return WSAENOTCONN;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: return WSAEMFILE;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case EPIPE: return WSAESHUTDOWN;  // sending on a connection that has been shut down
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return error;
  }
}

// Fails a call with the library's number for the system's errno.
int detail::fail_with_errno(int error) {
  last_error = translate_errno(error);
  return SOCKET_ERROR;
}

int detail::socket_error(TSocket s) {
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &value, &length) != 0) return errno;
  return value;
}

int system_socket_wait(std::int32_t s, socket_wait what, std::chrono::milliseconds timeout) {
  const short events = what == socket_wait::read ? POLLIN : POLLOUT;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd fd{s, events, 0};
    const int ready =
        poll(&fd, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return detail::translate_errno(errno);
    if (ready == 0) return WSAETIMEDOUT;
    if (fd.revents & POLLNVAL) return WSAEBADF;
    // A connect that ended tells how in the socket's pending error.
    if (what == socket_wait::connect) return detail::translate_errno(detail::socket_error(s));
    return 0;
  }
}

std::size_t system_sockets_wait(socket_waiter* sockets, std::size_t count,
                                std::chrono::milliseconds timeout) {
  constexpr std::size_t most = 64;  // more than a wait is ever asked to watch
  count = std::min(count, most);
  pollfd fds[most];
  for (std::size_t i = 0; i < count; ++i)
    fds[i] = {sockets[i].s, static_cast<short>(sockets[i].what == socket_wait::read ? POLLIN : POLLOUT), 0};
  const int ready = poll(fds, count, static_cast<int>(std::clamp<long long>(timeout.count(), 0, INT_MAX)));
  if (ready <= 0) return 0;  // none, or interrupted: the caller asks again
  std::size_t marked = 0;
  for (std::size_t i = 0; i < count; ++i) {
    // An error, a hang-up or a closed handle counts too: a wait on it ends.
    sockets[i].ready = fds[i].revents != 0;
    marked += sockets[i].ready ? 1 : 0;
  }
  return marked;
}

namespace {

using detail::fail_with_errno;
using detail::non_blocking;
using detail::socket_error;

sockaddr_in to_native(const TSockAddrIn& record) {
  sockaddr_in native{};
  native.sin_family = static_cast<sa_family_t>(record.sin_family == WS_AF_INET ? AF_INET
                                                                               : record.sin_family);
  native.sin_port = record.sin_port;
  native.sin_addr.s_addr = record.sin_addr;
  return native;
}

// Fails a blocking call whose wait did not end ready: the library's number.
int fail_after_wait(int number) {
  last_error = number;
  return SOCKET_ERROR;
}

// What background lookups share with the rest of the library. Never freed: a
// lookup thread may still be inside the resolver when the program ends, and
// must not find this state gone.
struct lookup_state {
  std::atomic<int> last_handle{0};
  // Raised by clean-up: lookups started before it post nothing.
  std::atomic<unsigned> generation{0};
};
lookup_state& lookups() {
  static lookup_state* const state = new lookup_state;
  return *state;
}

bool lookup_ipv4(const std::string& name, std::uint32_t& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
  address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(result);
  return true;
}

}  // namespace

int WSAStartup(std::uint16_t version_requested, TWSAData* data) {
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = version_requested;
    data->wHighVersion = 0x0202;
    std::strcpy(data->szDescription, "BSD sockets");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 1024;
    data->iMaxUdpDg = 65467;
  }
  return 0;
}

int WSACleanup() {
  ++lookups().generation;
  return 0;
}

int WSAGetLastError() { return last_error; }
void WSASetLastError(int error) { last_error = error; }

TSocket socket(int af, int type, int protocol) {
  const int native_af = af == WS_AF_INET ? AF_INET : af;
  const int native_type = type == WS_SOCK_STREAM ? SOCK_STREAM : type;
  // Non-blocking underneath: a blocking call waits through wait_for_socket,
  // so that its time limit reads the one clock.
  const int s = ::socket(native_af, native_type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
  if (s < 0) return fail_with_errno(errno);
  return s;
}

int connect(TSocket s, const TSockAddrIn* name, int namelen) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  if (!name || namelen < static_cast<int>(sizeof(TSockAddrIn))) return fail_with_errno(EFAULT);
  const sockaddr_in native = to_native(*name);
  const auto* address = reinterpret_cast<const sockaddr*>(&native);
  if (non_blocking(s)) {
    if (::connect(s, address, sizeof native) == 0) {
      detail::tell_registration(s, detail::socket_news::connected_at_once);
      return 0;
    }
    const int error = errno;
    if (error == EINPROGRESS)
      detail::tell_registration(s, detail::socket_news::connect_started);
    return fail_with_errno(error);
  }
  // Blocking: the attempt goes on while the wait lasts, at most the limit.
  if (::connect(s, address, sizeof native) == 0) return 0;
  const int error = errno;
  if (error != EINPROGRESS && error != EINTR) return fail_with_errno(error);
  if (const int waited = detail::wait_within_limit(s, socket_wait::connect); waited != 0)
    return fail_after_wait(waited);
  return 0;
}

int bind(TSocket s, const TSockAddrIn* name, int namelen) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  if (!name || namelen < static_cast<int>(sizeof(TSockAddrIn))) return fail_with_errno(EFAULT);
  const sockaddr_in native = to_native(*name);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&native), sizeof native) != 0)
    return fail_with_errno(errno);
  return 0;
}

int listen(TSocket s, int backlog) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  if (::listen(s, backlog) != 0) return fail_with_errno(errno);
  return 0;
}

namespace {

// A blocking send: everything goes out, or the call fails, at the latest
// after the time limit without progress.
int send_all(TSocket s, const char* buf, int len, int flags) {
  int sent = 0;
  while (sent < len) {
    const ssize_t n =
        ::send(s, buf + sent, static_cast<std::size_t>(len - sent), flags | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return fail_with_errno(errno);
    if (const int waited = detail::wait_within_limit(s, socket_wait::write); waited != 0)
      return fail_after_wait(waited);
  }
  return len;
}

}  // namespace

int detail::system_send(TSocket s, const char* buf, int len, int flags) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  if (len < 0) return fail_with_errno(EINVAL);
  const int send_flags = flags | MSG_NOSIGNAL;
  if (!non_blocking(s)) return send_all(s, buf, len, send_flags);
  ssize_t sent;
  do sent = ::send(s, buf, static_cast<std::size_t>(len), send_flags);
  while (sent < 0 && errno == EINTR);
  if (sent >= 0) return static_cast<int>(sent);
  const int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK)
    detail::tell_registration(s, detail::socket_news::send_blocked);
  return fail_with_errno(error);
}

int detail::system_recv(TSocket s, char* buf, int len, int flags) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  if (len < 0) return fail_with_errno(EINVAL);
  const bool blocking = !non_blocking(s);
  if (!blocking) detail::tell_registration(s, detail::socket_news::received);
  for (;;) {
    const ssize_t received = ::recv(s, buf, static_cast<std::size_t>(len), flags);
    if (received >= 0) {
      last_error = 0;
      return static_cast<int>(received);
    }
    if (errno == EINTR) continue;
    if (!blocking || (errno != EAGAIN && errno != EWOULDBLOCK)) return fail_with_errno(errno);
    // A blocking receive that got nothing within the time limit has failed:
    // never "would block", which would make a reader ask again forever.
    if (const int waited = detail::wait_within_limit(s, socket_wait::read); waited != 0)
      return fail_after_wait(waited);
  }
}

// The one option offered, on the system's own level and name.
int setsockopt(TSocket s, int level, int optname, const char* optval, int optlen) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  if (level != WS_IPPROTO_TCP || optname != WS_TCP_NODELAY) return fail_with_errno(ENOPROTOOPT);
  if (!optval || optlen < static_cast<int>(sizeof(int))) return fail_with_errno(EFAULT);
  int value;
  std::memcpy(&value, optval, sizeof value);
  if (::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) != 0) return fail_with_errno(errno);
  return 0;
}

int getsockopt(TSocket s, int level, int optname, char* optval, int* optlen) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  if (level != WS_IPPROTO_TCP || optname != WS_TCP_NODELAY) return fail_with_errno(ENOPROTOOPT);
  if (!optval || !optlen || *optlen < static_cast<int>(sizeof(int))) return fail_with_errno(EFAULT);
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &value, &length) != 0) return fail_with_errno(errno);
  std::memcpy(optval, &value, sizeof value);
  *optlen = sizeof value;
  return 0;
}

bool detail::peer_of(TSocket s, std::uint32_t& address, std::uint16_t& port) {
  sockaddr_in native{};
  socklen_t length = sizeof native;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&native), &length) != 0) {
    fail_with_errno(errno);
    return false;
  }
  address = native.sin_addr.s_addr;
  port = native.sin_port;
  return true;
}

int closesocket(TSocket s) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  detail::forget_registration(s);
  detail::drop_read_ahead(s);
  if (::close(s) != 0) return fail_with_errno(errno);
  return 0;
}

std::uint32_t inet_addr(const char* cp) {
  if (!cp) return INADDR_NONE_ADDRESS;
  return ::inet_addr(cp);
}

// The resolver names no host, so the entry carries the name asked for.
bool detail::lookup_host(const char* name, std::uint32_t& address, std::string& host_name) {
  if (!lookup_ipv4(name, address)) {
    last_error = WSAHOST_NOT_FOUND;
    return false;
  }
  host_name = name;
  return true;
}

bool detail::lookup_service(const char* name, const char* proto, service& found) {
  servent entry{};
  servent* result = nullptr;
  char scratch[1024];
  if (getservbyname_r(name, proto, &entry, scratch, sizeof scratch, &result) != 0 || !result) {
    last_error = WSANO_DATA;
    return false;
  }
  found.name = result->s_name ? result->s_name : "";
  found.proto = result->s_proto ? result->s_proto : "";
  found.port = static_cast<std::int16_t>(result->s_port);
  return true;
}

int WSAAsyncGetHostByName(HWND window, std::uint32_t msg, const char* name,
                          std::shared_ptr<char[]> buf, int buflen) {
  if (!name || !buf || buflen <= 0) {
    last_error = WSAEINVAL;
    return 0;
  }
  lookup_state& state = lookups();
  const int handle = ++state.last_handle;
  const unsigned generation = state.generation;
  try {
    std::thread([&state, generation, window, msg, handle, host = std::string(name),
                 buf = std::move(buf), buflen] {
      std::uint32_t address = 0;
      const bool found = lookup_ipv4(host, address);
      if (state.generation != generation) return;  // cleaned up meanwhile
      // The entry is laid into the buffer on the window's own thread.
      detail::post_message_with(window, msg, handle,
                                MakeLParam(0, found ? 0 : WSAHOST_NOT_FOUND), [=] {
                                  if (found) place_host_entry(buf.get(), buflen, address);
                                });
    }).detach();
  } catch (const std::system_error&) {
    last_error = WSAENOBUFS;  // no resources for another thread
    return 0;
  }
  return handle;
}

}  // namespace platform
