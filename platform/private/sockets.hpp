// The system half of the socket library: what each system's socket file gives
// the calls that every system shares, and what the shared file gives it.
// Private to platform/: nothing above it includes this header.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sockets.hpp"
#include "platform/waits.hpp"

namespace platform::detail {

// The system's send, which send calls unless a test has replaced it.
int system_send(TSocket s, const char* buf, int len, int flags);
// The system's receive, which recv calls when no read-ahead byte waits.
int system_recv(TSocket s, char* buf, int len, int flags);
// Called by recv after a receive that took bytes from the read-ahead or
// filled it, with whether bytes still wait there: each system makes a
// registered socket announce readable again.
void read_ahead_taken(TSocket s, bool bytes_wait);
// Whether read-ahead bytes of the socket wait.
bool read_ahead_waits(TSocket s);
// Drops the socket's read-ahead; called by closesocket.
void drop_read_ahead(TSocket s);
// The first IPv4 address of the host and the name to report for it; false,
// with the last error set, when there is none.
bool lookup_host(const char* name, std::uint32_t& address, std::string& host_name);
// A service as the system knows it: the port in network byte order.
struct service {
  std::string name;
  std::string proto;
  std::int16_t port = 0;
};
// False, with the last error set, when the system knows no such service.
bool lookup_service(const char* name, const char* proto, service& found);
// The address and port (network byte order) of a connected socket's peer;
// false, with the last error set, when there is none.
bool peer_of(TSocket s, std::uint32_t& address, std::uint16_t& port);
// Counts a blocking call that gave up at the time limit.
void count_time_out();
// The wait of a blocking call: through wait_for_socket, at most the time
// limit from now; a wait that reached it is counted.
int wait_within_limit(TSocket s, socket_wait what);

}  // namespace platform::detail
