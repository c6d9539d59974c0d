// A program that starts background host lookups on twenty components and
// ends at once, while the lookups still run: their threads must find nothing
// of the program's state freed. With the parameter "abrupt" it ends without
// the socket library's clean-up.
#include <memory>
#include <string>
#include <vector>

#include "tcpip/tcp.hpp"
#include "tcpip/tcpip.hpp"

int main(int argc, char** argv) {
  const bool abrupt = argc > 1 && std::string(argv[1]) == "abrupt";
  tcpip::start_tcpip_unit();
  {
    std::vector<std::unique_ptr<tcpip::T_TcpIp>> components;
    for (int i = 0; i < 20; ++i) {
      auto component = std::make_unique<tcpip::T_TcpIp>(nullptr);
      component->Async = true;
      component->Host = i % 2 == 0 ? "localhost" : "no-such-host-" + std::to_string(i) + ".invalid";
      component->Resolve();
      components.push_back(std::move(component));
    }
  }
  if (!abrupt) tcpip::stop_tcpip_unit();
  return 0;
}
