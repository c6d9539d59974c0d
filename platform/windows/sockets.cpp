// The socket library on Windows Sockets itself. The system's calls, records
// and error numbers are the library's own; what this file adds is the time
// limit of the blocking calls (every socket is non-blocking underneath, and a
// blocking call waits through the one wait, whose system half is select, for
// at most the limit without progress) and the buffer handling of background
// host lookups.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/private/sockets.hpp"
#include "platform/windows/windows_api.hpp"

namespace platform {
namespace {

// What the system does not keep about a socket: whether the caller made it
// non-blocking (registered it for events, and for which).
struct socket_record {
  bool registered = false;
  HWND window = 0;
  std::uint32_t msg = 0;
  std::int32_t mask = 0;
};

std::mutex sockets_mutex;
std::map<TSocket, socket_record> sockets;

socket_record record_of(TSocket s) {
  std::lock_guard lock(sockets_mutex);
  const auto found = sockets.find(s);
  return found == sockets.end() ? socket_record{} : found->second;
}

template <class Change>
void change_record(TSocket s, Change change) {
  std::lock_guard lock(sockets_mutex);
  change(sockets[s]);
}

int fail_with(int error) {
  ::WSASetLastError(error);
  return SOCKET_ERROR;
}

int succeed(int result) {
  ::WSASetLastError(0);
  return result;
}

// The system's handle of a platform socket; socket handles, like all kernel
// handles, carry 32 significant bits.
SOCKET native(TSocket s) { return static_cast<SOCKET>(static_cast<std::uint32_t>(s)); }

sockaddr_in to_native(const TSockAddrIn& record) {
  sockaddr_in address{};
  address.sin_family = static_cast<ADDRESS_FAMILY>(record.sin_family);
  address.sin_port = record.sin_port;
  address.sin_addr.s_addr = record.sin_addr;
  return address;
}

}  // namespace

int system_socket_wait(std::int32_t s, socket_wait what, std::chrono::milliseconds timeout) {
  const long long left = std::clamp<long long>(timeout.count(), 0, 24LL * 3600 * 1000);
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(native(s), &ready);
  FD_SET(native(s), &failed);
  timeval limit{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
  const int count = ::select(0, what == socket_wait::read ? &ready : nullptr,
                             what == socket_wait::read ? nullptr : &ready,
                             what == socket_wait::connect ? &failed : nullptr, &limit);
  if (count == SOCKET_ERROR) return ::WSAGetLastError();
  if (count == 0) return WSAETIMEDOUT;
  if (what == socket_wait::connect && FD_ISSET(native(s), &failed)) {
    int error = 0;
    int length = sizeof error;
    ::getsockopt(native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    return error != 0 ? error : WSAECONNREFUSED;
  }
  return 0;
}

std::size_t system_sockets_wait(socket_waiter* sockets, std::size_t count,
                                std::chrono::milliseconds timeout) {
  count = std::min<std::size_t>(count, FD_SETSIZE);
  const long long left = std::clamp<long long>(timeout.count(), 0, 24LL * 3600 * 1000);
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  for (std::size_t i = 0; i < count; ++i) {
    const SOCKET s = native(sockets[i].s);
    FD_SET(s, sockets[i].what == socket_wait::read ? &readable : &writable);
    // A connect that fails shows only in the set of failures.
    if (sockets[i].what == socket_wait::connect) FD_SET(s, &failed);
  }
  timeval limit{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
  if (count == 0 || ::select(0, &readable, &writable, &failed, &limit) <= 0) return 0;
  std::size_t marked = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const SOCKET s = native(sockets[i].s);
    sockets[i].ready = FD_ISSET(s, &readable) || FD_ISSET(s, &writable) || FD_ISSET(s, &failed);
    marked += sockets[i].ready ? 1 : 0;
  }
  return marked;
}

namespace {

// Background host lookups. The system fills a buffer of its own and posts its
// message to a helper window of the calling thread; the helper lays the
// address into the caller's buffer and posts the caller's message, so that
// the caller's buffer is never written behind its back.
struct lookup {
  HWND window;
  std::uint32_t msg;
  std::shared_ptr<char[]> buf;
  int buflen;
  std::unique_ptr<char[]> system_buffer;
};

constexpr std::uint32_t lookup_done = WM_USER + 1;

std::mutex lookups_mutex;
std::map<int, lookup> lookups;

void finish_lookup(TMessage& message) {
  if (message.Msg != lookup_done) return;
  lookup done;
  {
    std::lock_guard lock(lookups_mutex);
    const auto found = lookups.find(message.WParam);
    if (found == lookups.end()) return;
    done = std::move(found->second);
    lookups.erase(found);
  }
  int error = WSAGETASYNCERROR(static_cast<LPARAM>(message.LParam));
  if (error == 0) {
    const auto* entry = reinterpret_cast<const hostent*>(done.system_buffer.get());
    std::uint32_t address = 0;
    if (entry->h_length == 4 && entry->h_addr_list && entry->h_addr_list[0])
      std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    else
      error = WSANO_DATA;
    if (error == 0 && !place_host_entry(done.buf.get(), done.buflen, address)) error = WSAENOBUFS;
  }
  PostMessageA(done.window, done.msg, message.WParam,
               MakeLParam(0, static_cast<std::uint16_t>(error)));
}

// The helper window of the calling thread, made at its first lookup and
// freed when the thread ends.
HWND lookup_helper() {
  struct helper_window {
    HWND window = AllocateHWnd(finish_lookup);
    ~helper_window() {
      if (window != 0) DeallocateHWnd(window);
    }
  };
  thread_local helper_window helper;
  return helper.window;
}

}  // namespace

int WSAStartup(std::uint16_t version_requested, TWSAData* data) {
  WSADATA system{};
  const int result = ::WSAStartup(version_requested, &system);
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = system.wVersion;
    data->wHighVersion = system.wHighVersion;
    static_assert(sizeof data->szDescription == sizeof system.szDescription);
    static_assert(sizeof data->szSystemStatus == sizeof system.szSystemStatus);
    std::memcpy(data->szDescription, system.szDescription, sizeof data->szDescription - 1);
    std::memcpy(data->szSystemStatus, system.szSystemStatus, sizeof data->szSystemStatus - 1);
    data->iMaxSockets = system.iMaxSockets;
    data->iMaxUdpDg = system.iMaxUdpDg;
  }
  return result;
}

int WSACleanup() {
  // The system cancels the lookups still running; their buffers stay, since
  // a lookup that was just finishing may still write to its own.
  return ::WSACleanup();
}

int WSAGetLastError() { return ::WSAGetLastError(); }
void WSASetLastError(int error) { ::WSASetLastError(error); }

TSocket socket(int af, int type, int protocol) {
  const SOCKET s = ::socket(af, type, protocol);
  if (s == INVALID_SOCKET) return static_cast<TSocket>(SOCKET_ERROR);
  if (s > 0x7FFFFFFF) {
    ::closesocket(s);
    return fail_with(WSAEMFILE);
  }
  // Not inherited by programs the process starts; non-blocking underneath,
  // or a blocking call could wait for ever: a socket that cannot be made so
  // is no socket.
  u_long on = 1;
  if (!SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0) ||
      ::ioctlsocket(s, FIONBIO, &on) != 0) {
    // The system's last error serves both calls.
    const int error = ::WSAGetLastError();
    ::closesocket(s);
    return fail_with(error != 0 ? error : WSAEINVAL);
  }
  const auto handle = static_cast<TSocket>(s);
  std::lock_guard lock(sockets_mutex);
  sockets[handle] = socket_record{};
  return handle;
}

int connect(TSocket s, const TSockAddrIn* name, int namelen) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  if (!name || namelen < static_cast<int>(sizeof(TSockAddrIn))) return fail_with(WSAEFAULT);
  const socket_record record = record_of(s);
  const sockaddr_in address = to_native(*name);
  const int result =
      ::connect(native(s), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (result == 0) return succeed(0);
  const int error = ::WSAGetLastError();
  if (record.registered || error != WSAEWOULDBLOCK) return fail_with(error);
  if (const int waited = detail::wait_within_limit(s, socket_wait::connect); waited != 0)
    return fail_with(waited);
  return succeed(0);
}

int bind(TSocket s, const TSockAddrIn* name, int namelen) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  if (!name || namelen < static_cast<int>(sizeof(TSockAddrIn))) return fail_with(WSAEFAULT);
  const sockaddr_in address = to_native(*name);
  if (::bind(native(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return SOCKET_ERROR;
  return 0;
}

int listen(TSocket s, int backlog) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  return ::listen(native(s), backlog) == 0 ? 0 : SOCKET_ERROR;
}

int detail::system_send(TSocket s, const char* buf, int len, int flags) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  if (len < 0) return fail_with(WSAEINVAL);
  const socket_record record = record_of(s);
  if (record.registered) return ::send(native(s), buf, len, flags);
  // Blocking: everything goes out, or the call fails.
  int sent = 0;
  while (sent < len) {
    const int n = ::send(native(s), buf + sent, len - sent, flags);
    if (n > 0) {
      sent += n;
      continue;
    }
    if (n == SOCKET_ERROR && ::WSAGetLastError() != WSAEWOULDBLOCK) return SOCKET_ERROR;
    if (const int waited = detail::wait_within_limit(s, socket_wait::write); waited != 0)
      return fail_with(waited);
  }
  return len;
}

int detail::system_recv(TSocket s, char* buf, int len, int flags) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  if (len < 0) return fail_with(WSAEINVAL);
  const socket_record record = record_of(s);
  for (;;) {
    const int n = ::recv(native(s), buf, len, flags);
    if (n >= 0) return succeed(n);
    if (record.registered || ::WSAGetLastError() != WSAEWOULDBLOCK) return SOCKET_ERROR;
    if (const int waited = detail::wait_within_limit(s, socket_wait::read); waited != 0)
      return fail_with(waited);
  }
}

// The system announces read again after a receive only while it holds bytes
// itself; bytes of the read-ahead are announced here, as the system would.
void detail::read_ahead_taken(TSocket s, bool bytes_wait) {
  if (!bytes_wait) return;
  const socket_record record = record_of(s);
  if (!record.registered || (record.mask & FD_READ) == 0) return;
  PostMessageA(record.window, record.msg, s, MakeLParam(FD_READ, 0));
}

int setsockopt(TSocket s, int level, int optname, const char* optval, int optlen) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  if (level != WS_IPPROTO_TCP || optname != WS_TCP_NODELAY) return fail_with(WSAENOPROTOOPT);
  return ::setsockopt(native(s), IPPROTO_TCP, TCP_NODELAY, optval, optlen) == 0 ? 0
                                                                                 : SOCKET_ERROR;
}

int getsockopt(TSocket s, int level, int optname, char* optval, int* optlen) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  if (level != WS_IPPROTO_TCP || optname != WS_TCP_NODELAY) return fail_with(WSAENOPROTOOPT);
  return ::getsockopt(native(s), IPPROTO_TCP, TCP_NODELAY, optval, optlen) == 0 ? 0
                                                                                 : SOCKET_ERROR;
}

bool detail::peer_of(TSocket s, std::uint32_t& address, std::uint16_t& port) {
  sockaddr_in peer{};
  int length = sizeof peer;
  if (::getpeername(native(s), reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
    fail_with(::WSAGetLastError());
    return false;
  }
  address = peer.sin_addr.s_addr;
  port = peer.sin_port;
  return true;
}

int closesocket(TSocket s) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  {
    std::lock_guard lock(sockets_mutex);
    sockets.erase(s);
  }
  detail::drop_read_ahead(s);
  return ::closesocket(native(s)) == 0 ? 0 : SOCKET_ERROR;
}

std::uint32_t inet_addr(const char* cp) {
  if (!cp || !*cp) return INADDR_NONE_ADDRESS;
  return ::inet_addr(cp);
}

// The system's own error stays when it finds no host; an entry that is no
// IPv4 address counts as none.
bool detail::lookup_host(const char* name, std::uint32_t& address, std::string& host_name) {
  const hostent* found = ::gethostbyname(name);
  if (!found) return false;
  if (found->h_addrtype != AF_INET || found->h_length != 4 || !found->h_addr_list ||
      !found->h_addr_list[0]) {
    ::WSASetLastError(WSAHOST_NOT_FOUND);
    return false;
  }
  host_name = found->h_name ? found->h_name : name;
  std::memcpy(&address, found->h_addr_list[0], sizeof address);
  return true;
}

bool detail::lookup_service(const char* name, const char* proto, service& found) {
  const servent* entry = ::getservbyname(name, proto);
  if (!entry) return false;
  found.name = entry->s_name ? entry->s_name : "";
  found.proto = entry->s_proto ? entry->s_proto : "";
  found.port = entry->s_port;
  return true;
}

int WSAAsyncGetHostByName(HWND window, std::uint32_t msg, const char* name,
                          std::shared_ptr<char[]> buf, int buflen) {
  if (!name || !buf || buflen <= 0) {
    ::WSASetLastError(WSAEINVAL);
    return 0;
  }
  const HWND helper = lookup_helper();
  if (helper == 0) {
    ::WSASetLastError(WSAENOBUFS);
    return 0;
  }
  auto system_buffer = std::make_unique<char[]>(MAXGETHOSTSTRUCT);
  // Held while the lookup is started: the helper cannot see the lookup's
  // message before its record is in place.
  std::lock_guard lock(lookups_mutex);
  const HANDLE started = ::WSAAsyncGetHostByName(windows::to_system(helper), lookup_done, name,
                                                 system_buffer.get(), MAXGETHOSTSTRUCT);
  if (!started) return 0;
  const int handle = static_cast<int>(reinterpret_cast<std::uintptr_t>(started));
  lookups[handle] = lookup{window, msg, std::move(buf), buflen, std::move(system_buffer)};
  return handle;
}

int WSAAsyncSelect(TSocket s, HWND window, std::uint32_t msg, std::int32_t mask) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  if (::WSAAsyncSelect(native(s), windows::to_system(window), msg, mask) != 0)
    return SOCKET_ERROR;
  // The system leaves the socket non-blocking, also once the mask is 0.
  change_record(s, [&](socket_record& r) {
    r.registered = true;
    r.window = window;
    r.msg = msg;
    r.mask = mask;
  });
  // Bytes read ahead before the registration are news to the system.
  if (detail::read_ahead_waits(s)) detail::read_ahead_taken(s, true);
  return 0;
}

}  // namespace platform
