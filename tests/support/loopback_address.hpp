// The address record of a port on 127.0.0.1 for the scripted server's socket
// calls: BSD sockets and Windows Sockets lay it out alike.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

namespace testing_support::socket_calls {

inline sockaddr_in loopback_address(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

}  // namespace testing_support::socket_calls
