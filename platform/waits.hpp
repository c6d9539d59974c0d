// Time as one seam: the monotonic clock that every deadline of the socket
// library and the components above reads, and the one wait that every
// blocking connect, send and receive makes, on every system. The wait can be
// replaced: a caller that runs several transfers lets others run meanwhile,
// and tests step the clock to the deadline instead of waiting it out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {

using monotonic_time = std::chrono::steady_clock::time_point;

// The clock that every time limit reads: the system's steady clock unless a
// test has replaced it (platform/test_hooks.hpp).
monotonic_time monotonic_now();

// What a wait waits for: bytes or the end to receive, room to send, the end
// of a connect under way.
enum class socket_wait : std::uint8_t { read, write, connect };

// Waits until socket s is ready for `what`, at most until the deadline of
// monotonic_now(): 0 when it is, WSAETIMEDOUT when the deadline passed first,
// otherwise the library's number of what went wrong (a connect that failed
// gives its own error). Unless replaced: default_socket_wait.
int wait_for_socket(std::int32_t s, socket_wait what, monotonic_time deadline);

// One socket of a wait on several, and whether the wait found it ready (or
// failed: a wait on it would end at once).
struct socket_waiter {
  std::int32_t s = 0;
  socket_wait what = socket_wait::read;
  bool ready = false;
};

// Waits until at least one of the sockets is ready, at most until the
// deadline of monotonic_now(); marks those that are. False when the deadline
// passed first (or the wait itself failed) with none ready.
bool wait_for_sockets(socket_waiter* sockets, std::size_t count, monotonic_time deadline);

// What wait_for_socket does when nothing replaces it: for a replacement
// that leaves some waits to it.
int default_socket_wait(std::int32_t s, socket_wait what, monotonic_time deadline);

using socket_wait_function =
    std::function<int(std::int32_t s, socket_wait what, monotonic_time deadline)>;
// Puts `wait` in the place of the system's wait for every blocking call from
// now on; an empty function puts the system's back. Returns the one replaced.
socket_wait_function replace_socket_wait(socket_wait_function wait);

// The system's own wait, at most `timeout` of real time (0 asks without
// waiting), with the results of wait_for_socket: for a replacement.
int system_socket_wait(std::int32_t s, socket_wait what, std::chrono::milliseconds timeout);

// The system's own wait on several sockets, at most `timeout` of real time:
// how many it found ready (marked), 0 when none. Sockets in the list beyond
// the system's limit of one wait are not looked at.
std::size_t system_sockets_wait(socket_waiter* sockets, std::size_t count,
                                std::chrono::milliseconds timeout);

}  // namespace platform
