// The unit tcpip: start-up and shut-down of the socket library.
#include "tcpip/tcpip.hpp"

#include <cstdint>

#include "platform/sockets.hpp"

namespace tcpip {

bool SocketsStarted = false;

void start_tcpip_unit() {
  platform::TWSAData data;
  const int result = platform::WSAStartup(0x0101, &data);
  // Start-up failures are silent: later socket calls fail and are traced.
  SocketsStarted = result != platform::WSAEINVAL && result != platform::WSASYSNOTREADY &&
                   result != platform::WSAVERNOTSUPPORTED;
}

void stop_tcpip_unit() {
  if (!SocketsStarted) return;
  platform::WSACancelBlockingCall();
  platform::WSACleanup();
  SocketsStarted = false;
}

}  // namespace tcpip
