// The TCP component T_TcpIp: stream sockets, a listening socket, and a Get
// that reads everything the server sends into Stream.
#pragma once

#include "tcpip/tcpudp.hpp"

namespace tcpip {

class T_TcpIp : public T_tcpudp {
 public:
  using T_tcpudp::T_tcpudp;

  // Queues resolve and connect, then reads until the end of the connection
  // (on a non-blocking socket only what is waiting); Stream holds the bytes,
  // positioned at 0. The socket stays open.
  void Get() override;
  std::int32_t CreateSocket() override;
  // Binds to the port and local address and listens; failures are traced.
  void OpenInputSocket(std::int32_t& socket, std::uint16_t port,
                       std::uint32_t local_address) override;
  // The port of a TCP service name in host order, or 0.
  std::uint16_t ServicePort(const std::string& name) override;
};

}  // namespace tcpip
