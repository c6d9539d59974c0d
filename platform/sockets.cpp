// What the socket library does the same way on every system: the monotonic
// clock and the one wait of the blocking calls, their time limit and the
// count of those that gave up, the send that tests may replace, the
// read-ahead of small receives, the records of looked-up hosts, services and
// peers, and host entries laid into a caller's buffer.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "platform/private/sockets.hpp"
#include "platform/sockets.hpp"
#include "platform/test_hooks.hpp"
#include "platform/waits.hpp"

namespace platform {
namespace {

std::atomic<long long> time_limit_ms{60000};
std::atomic<int> time_outs_seen{0};
std::atomic<long long> system_receives_made{0};
test_hooks::send_function send_replacement;

// Bytes a socket has received from the system and not yet handed out: those
// from `start` up to `end`.
struct read_ahead {
  std::unique_ptr<char[]> data{new char[read_ahead_size]};
  int start = 0;
  int end = 0;
};

std::mutex read_ahead_mutex;
std::unordered_map<TSocket, read_ahead> read_aheads;

int counted_system_recv(TSocket s, char* buf, int len, int flags) {
  ++system_receives_made;
  return detail::system_recv(s, buf, len, flags);
}

// Hands out up to len waiting bytes of the socket (a peek leaves them
// waiting); 0 when none wait.
int take_read_ahead(TSocket s, char* buf, int len, bool peek) {
  int taken = 0;
  bool left = false;
  {
    std::lock_guard lock(read_ahead_mutex);
    const auto found = read_aheads.find(s);
    if (found == read_aheads.end() || found->second.start == found->second.end) return 0;
    read_ahead& ahead = found->second;
    taken = std::min(len, ahead.end - ahead.start);
    std::memcpy(buf, ahead.data.get() + ahead.start, static_cast<std::size_t>(taken));
    if (!peek) ahead.start += taken;
    left = ahead.start < ahead.end;
  }
  detail::read_ahead_taken(s, left);
  return taken;
}

// One system receive into the socket's read-ahead, of which the caller gets
// the first len bytes; the system's result when it brought none.
int fill_read_ahead(TSocket s, char* buf, int len) {
  std::unique_ptr<char[]> data;
  {
    std::lock_guard lock(read_ahead_mutex);
    data = std::move(read_aheads[s].data);
  }
  if (!data) data.reset(new char[read_ahead_size]);
  const int received = counted_system_recv(s, data.get(), read_ahead_size, 0);
  const int taken = std::min(len, std::max(received, 0));
  std::memcpy(buf, data.get(), static_cast<std::size_t>(taken));
  {
    std::lock_guard lock(read_ahead_mutex);
    read_ahead& ahead = read_aheads[s];
    ahead.data = std::move(data);
    ahead.start = taken;
    ahead.end = std::max(received, taken);
  }
  if (received <= 0) return received;
  detail::read_ahead_taken(s, received > taken);
  return taken;
}

int fail_with(int error) {
  WSASetLastError(error);
  return SOCKET_ERROR;
}

std::function<monotonic_time()>& clock_replacement() {
  static std::function<monotonic_time()> now;
  return now;
}

socket_wait_function& wait_replacement() {
  static socket_wait_function wait;
  return wait;
}

test_hooks::sockets_wait_function& sockets_wait_replacement() {
  static test_hooks::sockets_wait_function wait;
  return wait;
}

}  // namespace

monotonic_time monotonic_now() {
  if (const auto& now = clock_replacement()) return now();
  return std::chrono::steady_clock::now();
}

void test_hooks::replace_monotonic_clock(std::function<monotonic_time()> now) {
  clock_replacement() = std::move(now);
}

int wait_for_socket(TSocket s, socket_wait what, monotonic_time deadline) {
  if (const auto& wait = wait_replacement()) return wait(s, what, deadline);
  return default_socket_wait(s, what, deadline);
}

int default_socket_wait(TSocket s, socket_wait what, monotonic_time deadline) {
  socket_waiter one{s, what};
  for (;;) {
    if (!wait_for_sockets(&one, 1, deadline)) return WSAETIMEDOUT;
    // Ready: the system tells how (a connect that ended says whether it failed).
    if (const int result = system_socket_wait(s, what, std::chrono::milliseconds(0));
        result != WSAETIMEDOUT)
      return result;
  }
}

bool wait_for_sockets(socket_waiter* sockets, std::size_t count, monotonic_time deadline) {
  for (std::size_t i = 0; i < count; ++i) sockets[i].ready = false;
  if (const auto& wait = sockets_wait_replacement()) return wait(sockets, count, deadline);
  for (;;) {
    // Rounded up, so that a wait never ends before the deadline it was given.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - monotonic_now());
    if (left.count() <= 0) return false;
    if (system_sockets_wait(sockets, count, left) != 0) return true;
  }
}

test_hooks::sockets_wait_function test_hooks::replace_sockets_wait(sockets_wait_function wait) {
  sockets_wait_function old = std::move(sockets_wait_replacement());
  sockets_wait_replacement() = std::move(wait);
  return old;
}

socket_wait_function replace_socket_wait(socket_wait_function wait) {
  socket_wait_function old = std::move(wait_replacement());
  wait_replacement() = std::move(wait);
  return old;
}

int detail::wait_within_limit(TSocket s, socket_wait what) {
  const int result = wait_for_socket(s, what, monotonic_now() + sync_time_limit());
  if (result == WSAETIMEDOUT) count_time_out();
  return result;
}

void test_hooks::set_sync_time_limit(std::chrono::milliseconds limit) { time_limit_ms = limit.count(); }
std::chrono::milliseconds sync_time_limit() { return std::chrono::milliseconds(time_limit_ms); }
int test_hooks::time_outs() { return time_outs_seen; }
void detail::count_time_out() { ++time_outs_seen; }

test_hooks::send_function test_hooks::replace_send(send_function replacement) {
  send_function old = std::move(send_replacement);
  send_replacement = std::move(replacement);
  return old;
}

int send(TSocket s, const char* buf, int len, int flags) {
  if (send_replacement) return send_replacement(s, buf, len, flags);
  // No bytes: nothing for the system to do (a stream socket sends nothing).
  if (len == 0 && s >= 0) {
    WSASetLastError(0);
    return 0;
  }
  return detail::system_send(s, buf, len, flags);
}

int recv(TSocket s, char* buf, int len, int flags) {
  if (buf && len > 0) {
    if (const int taken = take_read_ahead(s, buf, len, (flags & WS_MSG_PEEK) != 0); taken > 0) {
      WSASetLastError(0);
      return taken;
    }
  }
  if (s < 0 || !buf || flags != 0 || len <= 0 || len >= read_ahead_size)
    return counted_system_recv(s, buf, len, flags);
  return fill_read_ahead(s, buf, len);
}

long long test_hooks::system_receives() { return system_receives_made; }

bool detail::read_ahead_waits(TSocket s) {
  std::lock_guard lock(read_ahead_mutex);
  const auto found = read_aheads.find(s);
  return found != read_aheads.end() && found->second.start < found->second.end;
}

void detail::drop_read_ahead(TSocket s) {
  std::lock_guard lock(read_ahead_mutex);
  read_aheads.erase(s);
}

// Blocking calls run on the thread that makes them, so none can be in
// progress while that thread is here: the answer Windows Sockets gives when
// no blocking call is outstanding.
int WSACancelBlockingCall() { return fail_with(WSAEINVAL); }

int getpeername(TSocket s, TSockAddrIn* name, int* namelen) {
  if (s < 0) return fail_with(WSAENOTSOCK);
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  if (!detail::peer_of(s, address, port)) return SOCKET_ERROR;
  if (name && namelen && *namelen >= static_cast<int>(sizeof(TSockAddrIn))) {
    name->sin_family = WS_AF_INET;
    name->sin_port = port;
    name->sin_addr = address;
    std::memset(name->sin_zero, 0, sizeof name->sin_zero);
    *namelen = sizeof(TSockAddrIn);
  }
  return 0;
}

THostEnt* gethostbyname(const char* name) {
  struct storage {
    THostEnt entry;
    char* addresses[2];
    char* aliases[1];
    std::uint32_t address;
    std::string name;
  };
  thread_local storage host;
  if (!name) {
    WSASetLastError(WSAHOST_NOT_FOUND);
    return nullptr;
  }
  std::uint32_t address = 0;
  std::string official_name;
  if (!detail::lookup_host(name, address, official_name)) return nullptr;
  host.name = std::move(official_name);
  host.address = address;
  host.addresses[0] = reinterpret_cast<char*>(&host.address);
  host.addresses[1] = nullptr;
  host.aliases[0] = nullptr;
  host.entry = {host.name.data(), host.aliases, WS_AF_INET, 4, host.addresses};
  return &host.entry;
}

TServEnt* getservbyname(const char* name, const char* proto) {
  struct storage {
    TServEnt entry;
    char* aliases[1];
    detail::service found;
  };
  thread_local storage service;
  if (!name || !detail::lookup_service(name, proto, service.found)) return nullptr;
  service.aliases[0] = nullptr;
  service.entry = {service.found.name.data(), service.aliases, service.found.port,
                   service.found.proto.data()};
  return &service.entry;
}

bool place_host_entry(char* buffer, int size, std::uint32_t address) {
  struct layout {
    THostEnt entry;
    char* addresses[2];
    char* aliases[1];
    std::uint32_t address;
    char name[1];
  };
  if (!buffer || size < static_cast<int>(sizeof(layout))) return false;
  if (reinterpret_cast<std::uintptr_t>(buffer) % alignof(layout) != 0) return false;
  auto* placed = new (buffer) layout{};
  placed->address = address;
  placed->addresses[0] = reinterpret_cast<char*>(&placed->address);
  placed->entry = {placed->name, placed->aliases, WS_AF_INET, 4, placed->addresses};
  return true;
}

}  // namespace platform
