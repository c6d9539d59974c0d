// The thread's message loop run until a condition holds, on every system.
#include "platform/messages.hpp"

#include <chrono>

namespace platform {

bool RunMessageLoop(const std::function<bool()>& done, int timeout_ms) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (done()) return true;
    ProcessMessages();
    if (done()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (left <= 0) return false;
    WaitMessage(static_cast<int>(left));
  }
}

}  // namespace platform
