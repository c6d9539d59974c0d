// Where the POSIX message loop and the POSIX socket layer meet: the loop
// waits for the events of registered sockets through the socket layer, and
// the socket layer posts a finished lookup with the work to do on delivery.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/messages.hpp"

namespace platform::detail {

// Posts a message whose action runs on the window's thread just before the
// message is delivered, and only if the window still exists then.
bool post_message_with(HWND window, std::uint32_t msg, std::int32_t wparam, std::int32_t lparam,
                       std::function<void()> before_delivery);
// Implemented by the socket layer: polls this thread's registered sockets and
// the loop's wake-up descriptor for at most timeout_ms and posts the sockets'
// events.
void wait_for_socket_events(int wake_fd, int timeout_ms);

}  // namespace platform::detail
