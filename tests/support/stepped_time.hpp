// Time as the time-limit tests see it: the platform's monotonic clock stands
// still until a wait of the code under test steps it, so that the 60-second
// limits are tested without waiting for them and no outcome depends on how
// busy the machine is. A scripted peer tells when it will act next on its
// connection (a pause) or that it never will (silence); a wait whose socket
// is not ready steps the clock to that time, or to its own deadline when that
// comes first, and gives a peer at work real time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/test_hooks.hpp"

namespace testing_support {

class stepped_time {
 public:
  // Replaces the platform's clock and socket wait for as long as it lives.
  stepped_time();
  ~stepped_time();
  stepped_time(const stepped_time&) = delete;
  stepped_time& operator=(const stepped_time&) = delete;

  // How far the clock has been stepped since it was put in place.
  std::chrono::nanoseconds elapsed() const;
  // Steps the clock, for a test of what reads nothing but the clock.
  void step(std::chrono::nanoseconds step);

  // Blocks the calling peer of the connection named by the client's port
  // until the stepped clock has gone `pause` further, or real time where no
  // clock is stepped; false when `stop` (asked now and then) says so first.
  static bool pause(std::uint16_t port, std::chrono::nanoseconds pause,
                    const std::function<bool()>& stop);

  struct state;

 private:
  std::shared_ptr<state> state_;
  platform::test_hooks::sockets_wait_function replaced_wait_;
};

// The peer of the connection named by the client's port (0: of every
// connection, such as a port that never answers) says nothing for as long as
// the object lives: a wait on that connection steps the clock to its
// deadline. Does nothing where no clock is stepped.
class peer_silence {
 public:
  explicit peer_silence(std::uint16_t port = 0);
  ~peer_silence();
  peer_silence(const peer_silence&) = delete;
  peer_silence& operator=(const peer_silence&) = delete;

 private:
  std::shared_ptr<stepped_time::state> state_;
  const void* token_ = nullptr;
};

}  // namespace testing_support
