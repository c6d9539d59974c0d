// The unit tcpip: its start-up and shut-down (the socket library).
#pragma once

namespace tcpip {

void start_tcpip_unit();
void stop_tcpip_unit();

}  // namespace tcpip
