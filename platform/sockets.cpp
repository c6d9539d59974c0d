// What the socket library does the same way on every system: the time limit
// of the blocking calls and the count of those that gave up, the send that
// tests may replace, the records of looked-up hosts, services and peers, and
// host entries laid into a caller's buffer.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "platform/sockets.hpp"

namespace platform {
namespace {

std::atomic<long long> time_limit_ms{60000};
std::atomic<int> time_outs_seen{0};
send_function send_replacement;

int fail_with(int error) {
  WSASetLastError(error);
  return SOCKET_ERROR;
}

}  // namespace

void set_sync_time_limit(std::chrono::milliseconds limit) { time_limit_ms = limit.count(); }
std::chrono::milliseconds sync_time_limit() { return std::chrono::milliseconds(time_limit_ms); }
int time_outs() { return time_outs_seen; }
void detail::count_time_out() { ++time_outs_seen; }

send_function replace_send(send_function replacement) {
  send_function old = std::move(send_replacement);
  send_replacement = std::move(replacement);
  return old;
}

int send(TSocket s, const char* buf, int len, int flags) {
  if (send_replacement) return send_replacement(s, buf, len, flags);
  return detail::system_send(s, buf, len, flags);
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
