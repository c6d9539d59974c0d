// The unit tcpip: start-up and shut-down.
#include "tcpip/tcpip.hpp"

namespace tcpip {

void start_tcpip_unit() {}
void stop_tcpip_unit() {}

}  // namespace tcpip
