// The unit tcpip: its start-up and shut-down (the socket library).
#pragma once

namespace tcpip {

// True once the socket library has started; only then is it cleaned up.
extern bool SocketsStarted;

void start_tcpip_unit();
void stop_tcpip_unit();

}  // namespace tcpip
