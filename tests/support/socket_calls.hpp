// The few socket calls the scripted server makes, alike on every system:
// sockets are ints (-1 is none; Windows' socket handles carry 32 significant
// bits), and a call that a signal interrupts is made again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace testing_support::socket_calls {

// A socket bound to 127.0.0.1 on a port the system assigns, listening (with
// the given backlog) or not; the test's child programs do not inherit it.
// Throws std::runtime_error when there is none.
int bound_loopback(bool listening, std::uint16_t& port, int backlog);
// A socket connected to 127.0.0.1:port; -1 when the connect fails.
int connected_to_loopback(std::uint16_t port);
// The next connection of a listening socket, which sends small writes at
// once; -1 when the accept fails or stop_listening ended it.
int accept_connection(int listener);
// Receives what has come: the count, 0 at the end of the data, -1 when the
// connection broke or was shut.
long receive(int fd, char* buffer, std::size_t size);
// Sends every byte; false when the connection broke.
bool send_all(int fd, std::string_view data);
// Ends the sending side: the peer reads the end of the data.
void finish_sending(int fd);
// Makes the close abort the connection with a reset.
void reset_on_close(int fd);
// Shuts both directions: a receive waiting on the socket returns.
void shut(int fd);
// Ends an accept waiting on the listening socket. Where only closing the
// socket does that, it is closed and `listener` becomes -1.
void stop_listening(int& listener);
// Closes the socket; -1 is ignored.
void close(int fd);
// The port of the socket's own end, or of its peer's; 0 when there is none.
// Either end of one loopback connection names it by the client's port.
std::uint16_t port_of(int fd, bool peer);

}  // namespace testing_support::socket_calls
