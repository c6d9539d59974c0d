// What the POSIX socket calls and their event registration (WSAAsyncSelect)
// share: the errno map, and what a call on a registered socket changes in the
// events announced next.
#pragma once

// Last: it drops the C library's byte-order macros.
#include "platform/private/sockets.hpp"

namespace platform::detail {

// The one place that maps errno to the socket library's numbers.
int translate_errno(int error);
// Fails a call with the library's number for the system's errno.
int fail_with_errno(int error);
// The socket's pending error (errno when it cannot be read).
int socket_error(TSocket s);

// Whether event registration made the socket non-blocking; it stays so until
// it is closed.
bool non_blocking(TSocket s);

// What a call on a registered socket tells its registration.
enum class socket_news {
  connected_at_once,  // a connect finished in the call: announce it
  connect_started,    // watch for the end of the attempt
  send_blocked,       // announce write once there is room again
  received,           // announce read once bytes wait again
};
void tell_registration(TSocket s, socket_news news);

// Forgets the registration of a socket that is being closed.
void forget_registration(TSocket s);

}  // namespace platform::detail
