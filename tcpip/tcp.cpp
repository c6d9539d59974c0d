// The TCP component: stream sockets, listening, and reading a whole response.
#include "tcpip/tcp.hpp"

#include "platform/sockets.hpp"

namespace tcpip {

void T_TcpIp::Get() {
  OpenConnection();
  Stream.Clear();
  while (!Eof(Socket)) {
    std::int32_t count = 0;
    ReceiveBuf(Socket, Buffer.get(), count, buffer_size);
    if (count > 0) AppendToStream(Buffer.get(), count);
    // Nothing waiting on a non-blocking socket: asking again would only spin.
    if (count == 0 && !Closed) break;
  }
  Stream.SetPosition(0);
}

std::int32_t T_TcpIp::CreateSocket() {
  const std::int32_t socket = platform::socket(platform::WS_AF_INET, platform::WS_SOCK_STREAM, 0);
  // The request line and the header block are two sends. With Nagle's
  // algorithm the second waits until the first is acknowledged: one round trip
  // more per request on a real link. Each send goes out as it is made. A
  // socket that refuses the option still works, only slower.
  const int on = 1;
  platform::setsockopt(socket, platform::WS_IPPROTO_TCP, platform::WS_TCP_NODELAY,
                       reinterpret_cast<const char*>(&on), sizeof on);
  return socket;
}

void T_TcpIp::OpenInputSocket(std::int32_t& socket, std::uint16_t port,
                              std::uint32_t local_address) {
  CloseSocket(socket);
  socket = CreateSocket();
  platform::TSockAddrIn record{};
  record.sin_family = platform::WS_AF_INET;
  record.sin_port = platform::htons(port);
  record.sin_addr = local_address;
  if (platform::bind(socket, &record, sizeof record) == platform::SOCKET_ERROR) {
    Trace(tt_socket, "Failed to bind socket ", port_text(port), " for local ip ",
          dotted_address{local_address});
    CloseSocket(socket);
    return;
  }
  Trace(tt_socket, "Bound to socket ", port_text(port), " for local ip ",
        dotted_address{local_address});
  if (platform::listen(socket, 2) == platform::SOCKET_ERROR) {
    CloseSocket(socket);
    Trace(tt_socket, "Failed to set input socket ", port_text(port), " to listening mode");
    return;
  }
  Trace(tt_socket, "Set input socket ", port_text(port), " to listening mode sucessfully; ID ",
        socket);
}

std::uint16_t T_TcpIp::ServicePort(const std::string& name) {
  const platform::TServEnt* service = platform::getservbyname(name.c_str(), "tcp");
  if (!service) return 0;
  return platform::ntohs(static_cast<std::uint16_t>(service->s_port));
}

}  // namespace tcpip
