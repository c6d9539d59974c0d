// The socket library as the components call it: the calls, records and error
// numbers of Windows Sockets 1.1, on each system's own sockets. A send to a
// closed peer fails; it never ends the program.
// A blocking connect, send or receive gives up after a time limit without
// progress and then fails with WSAETIMEDOUT, never "would block"; a blocking
// send hands over all its bytes or fails. Each waits through
// wait_for_socket (platform/waits.hpp) up to a deadline of monotonic_now(). Whether a socket that gave up is
// asked again is for its user to decide.
//
// The C library may define htons and friends as macros; this header drops
// them, so include it after any system header that brings them.
#pragma once

#include <bit>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/messages.hpp"

namespace platform {

using TSocket = std::int32_t;
inline constexpr TSocket INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;
inline constexpr std::uint32_t INADDR_NONE_ADDRESS = 0xFFFFFFFFu;

inline constexpr int WS_AF_INET = 2;
inline constexpr int WS_SOCK_STREAM = 1;

// The receive flag that leaves the bytes to be received again.
inline constexpr int WS_MSG_PEEK = 2;

// Levels and options of setsockopt and getsockopt.
inline constexpr int WS_IPPROTO_TCP = 6;
inline constexpr int WS_TCP_NODELAY = 1;

// The socket library's error numbers, each named once here. Failures the
// library has no number for give other, distinct numbers (below 10000).
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSANO_DATA = 11004;

// Event codes of WSAAsyncSelect, delivered in the low half of lParam.
inline constexpr std::int32_t FD_READ = 1;
inline constexpr std::int32_t FD_WRITE = 2;
inline constexpr std::int32_t FD_OOB = 4;
inline constexpr std::int32_t FD_ACCEPT = 8;
inline constexpr std::int32_t FD_CONNECT = 16;
inline constexpr std::int32_t FD_CLOSE = 32;

struct TWSAData {
  std::uint16_t wVersion;
  std::uint16_t wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  std::uint16_t iMaxSockets;
  std::uint16_t iMaxUdpDg;
  char* lpVendorInfo;
};

// The 16-byte IPv4 address record: port and address in network byte order.
struct TSockAddrIn {
  std::int16_t sin_family;
  std::uint16_t sin_port;
  std::uint32_t sin_addr;
  char sin_zero[8];
};

// A host entry; h_addr_list ends with a null entry, each address has h_length
// bytes in network byte order.
struct THostEnt {
  char* h_name;
  char** h_aliases;
  std::int16_t h_addrtype;
  std::int16_t h_length;
  char** h_addr_list;
};

struct TServEnt {
  char* s_name;
  char** s_aliases;
  std::int16_t s_port;  // network byte order
  char* s_proto;
};

#undef htons
#undef ntohs
#undef htonl
#undef ntohl
constexpr std::uint16_t htons(std::uint16_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}
constexpr std::uint16_t ntohs(std::uint16_t value) { return htons(value); }
constexpr std::uint32_t ntohl(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}
constexpr std::uint32_t htonl(std::uint32_t value) { return ntohl(value); }

// Start-up does nothing and reports success (0). Clean-up returns at once:
// background lookups still running are not waited for, and from then on post
// nothing (their threads touch only state that lasts to the end of the
// process). A blocking call runs on the thread that makes it, so there is
// never one in progress to cancel: WSACancelBlockingCall fails with WSAEINVAL,
// as Windows Sockets does when no blocking call is outstanding.
int WSAStartup(std::uint16_t version_requested, TWSAData* data);
int WSACleanup();
int WSACancelBlockingCall();
int WSAGetLastError();
void WSASetLastError(int error);

TSocket socket(int af, int type, int protocol);
int connect(TSocket s, const TSockAddrIn* name, int namelen);
int bind(TSocket s, const TSockAddrIn* name, int namelen);
int listen(TSocket s, int backlog);
// A send of no bytes on a socket succeeds with 0 and asks the system nothing.
int send(TSocket s, const char* buf, int len, int flags);
// A receive that succeeds, the end of the connection included, sets the last
// error to 0, so that an earlier "would block" is never read as current.
// Small receives (flags 0, fewer than read_ahead_size bytes) read ahead: one
// system call fills a buffer of the socket's, whose bytes are handed out in
// order and exactly once before the next call to the system; larger ones get
// those bytes first and then go to the system. A socket registered for events
// is announced readable again while such bytes wait; a peek sees them first.
// Closing drops them.
inline constexpr int read_ahead_size = 8192;
int recv(TSocket s, char* buf, int len, int flags);
int getpeername(TSocket s, TSockAddrIn* name, int* namelen);
int closesocket(TSocket s);
// Only TCP_NODELAY of level IPPROTO_TCP, as a 4-byte integer; other options
// fail with WSAENOPROTOOPT.
int setsockopt(TSocket s, int level, int optname, const char* optval, int optlen);
int getsockopt(TSocket s, int level, int optname, char* optval, int* optlen);

// The address of a dotted text, or INADDR_NONE_ADDRESS.
std::uint32_t inet_addr(const char* cp);
// Blocking lookup of the first IPv4 address; the entry lives until the next
// lookup on the same thread. Null when the name is unknown.
THostEnt* gethostbyname(const char* name);
TServEnt* getservbyname(const char* name, const char* proto);

// Starts a lookup on a helper thread. When it ends, msg is posted to the
// window (lParam high half: 0, or the error number when the name is
// unknown); the entry is laid into buf just before the message is delivered.
// Returns a nonzero handle, or 0 when no lookup was started. The buffer is
// shared so that it outlives a caller that gives it up early.
int WSAAsyncGetHostByName(HWND window, std::uint32_t msg, const char* name,
                          std::shared_ptr<char[]> buf, int buflen);

// Registers the socket for the events in mask, delivered as msg to the window
// by the loop of the calling thread (wParam the socket, lParam low half the
// event, high half an error number); the socket becomes non-blocking. Read
// is announced again only after a receive, write only after a send that would
// block; connect, accept and close are announced once. A mask of 0 ends the
// registration.
int WSAAsyncSelect(TSocket s, HWND window, std::uint32_t msg, std::int32_t mask);

// Lays out a host entry with one address in a lookup buffer. False when the
// buffer is too small.
bool place_host_entry(char* buffer, int size, std::uint32_t address);

// The limit of a blocking connect, send or receive without progress: 60
// seconds (tests may change it).
std::chrono::milliseconds sync_time_limit();

}  // namespace platform
