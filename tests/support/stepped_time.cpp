// The stepped clock, the peers' pauses and silences, and the wait that steps
// the clock.
#include "tests/support/stepped_time.hpp"

#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/test_hooks.hpp"
#include "tests/support/socket_calls.hpp"
// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"

namespace testing_support {

using namespace std::chrono_literals;

// When a peer acts next on one connection (the client's port; 0 for every
// connection): monotonic_time::max() for never.
struct peer_time {
  std::uint16_t port;
  platform::monotonic_time wake;
};

// Shared with the peers, which may outlive the stepped_time that made it.
struct stepped_time::state {
  std::mutex mutex;
  std::condition_variable stepped;
  platform::monotonic_time start;
  platform::monotonic_time now;
  std::list<peer_time> peers;

  // When the peer of the connection acts next, or nothing when it is at
  // work (or has said nothing of itself).
  std::optional<platform::monotonic_time> next_act(std::uint16_t port) const {
    std::optional<platform::monotonic_time> first;
    for (const peer_time& peer : peers)
      if (peer.port == 0 || peer.port == port) first = std::min(first.value_or(peer.wake), peer.wake);
    if (first && *first <= now) return std::nullopt;
    return first;
  }
};

namespace {

std::mutex in_force_mutex;
std::shared_ptr<stepped_time::state> in_force;

std::shared_ptr<stepped_time::state> state_in_force() {
  std::lock_guard lock(in_force_mutex);
  return in_force;
}

// How long the waiting side gives bytes already sent to arrive before it
// steps the clock, and how long it gives a peer at work between looks.
constexpr std::chrono::milliseconds arrival_grace{10};
constexpr std::chrono::milliseconds look_again{2};
// A peer that neither acts nor says when it will for this long of real time
// is taken for silent: the waiting side then reaches its deadline.
constexpr std::chrono::seconds silent_after{60};

// Whether one of the sockets is ready within `grace` of real time.
bool any_ready(platform::socket_waiter* sockets, std::size_t count, std::chrono::milliseconds grace) {
  return platform::system_sockets_wait(sockets, count, grace) != 0;
}

bool wait(stepped_time::state& time, platform::socket_waiter* sockets, std::size_t count,
          platform::monotonic_time deadline) {
  std::vector<std::uint16_t> ports;
  for (std::size_t i = 0; i < count; ++i) ports.push_back(socket_calls::port_of(sockets[i].s, false));
  // When the first of the peers acts next, or nothing when one is at work.
  const auto next_act = [&]() -> std::optional<platform::monotonic_time> {
    std::optional<platform::monotonic_time> first;
    for (const std::uint16_t port : ports) {
      const auto next = time.next_act(port);
      if (!next) return std::nullopt;
      first = std::min(first.value_or(*next), *next);
    }
    return first;
  };
  const auto give_up = std::chrono::steady_clock::now() + silent_after;
  for (;;) {
    if (any_ready(sockets, count, 0ms)) return true;
    std::unique_lock lock(time.mutex);
    if (time.now >= deadline) return false;
    const bool on_the_clock = next_act().has_value();
    if (!on_the_clock && std::chrono::steady_clock::now() > give_up) {
      time.now = deadline;
      return false;
    }
    lock.unlock();
    // Bytes already sent, or a peer at work, get real time first.
    if (any_ready(sockets, count, on_the_clock ? arrival_grace : look_again)) return true;
    lock.lock();
    if (const auto next = next_act()) {
      time.now = std::min(*next, deadline);
      time.stepped.notify_all();
    }
  }
}

}  // namespace

stepped_time::stepped_time() : state_(std::make_shared<state>()) {
  state_->start = state_->now = platform::monotonic_now();
  platform::test_hooks::replace_monotonic_clock([time = state_] {
    std::lock_guard lock(time->mutex);
    return time->now;
  });
  replaced_wait_ = platform::test_hooks::replace_sockets_wait(
      [time = state_](platform::socket_waiter* sockets, std::size_t count,
                      platform::monotonic_time deadline) { return wait(*time, sockets, count, deadline); });
  std::lock_guard lock(in_force_mutex);
  in_force = state_;
}

stepped_time::~stepped_time() {
  {
    std::lock_guard lock(in_force_mutex);
    in_force.reset();
  }
  platform::test_hooks::replace_sockets_wait(std::move(replaced_wait_));
  platform::test_hooks::replace_monotonic_clock({});
}

std::chrono::nanoseconds stepped_time::elapsed() const {
  std::lock_guard lock(state_->mutex);
  return state_->now - state_->start;
}

void stepped_time::step(std::chrono::nanoseconds step) {
  std::lock_guard lock(state_->mutex);
  state_->now += step;
  state_->stepped.notify_all();
}

bool stepped_time::pause(std::uint16_t port, std::chrono::nanoseconds pause,
                         const std::function<bool()>& stop) {
  const auto time = state_in_force();
  if (!time) {
    const auto end = std::chrono::steady_clock::now() + pause;
    while (std::chrono::steady_clock::now() < end) {
      if (stop && stop()) return false;
      std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(look_again, pause));
    }
    return true;
  }
  std::unique_lock lock(time->mutex);
  const auto peer = time->peers.insert(time->peers.end(), {port, time->now + pause});
  bool reached = true;
  while (time->now < peer->wake) {
    if (stop && stop()) {
      reached = false;
      break;
    }
    time->stepped.wait_for(lock, look_again);
  }
  time->peers.erase(peer);
  return reached;
}

peer_silence::peer_silence(std::uint16_t port) : state_(state_in_force()) {
  if (!state_) return;
  std::lock_guard lock(state_->mutex);
  token_ = &*state_->peers.insert(state_->peers.end(), {port, platform::monotonic_time::max()});
}

peer_silence::~peer_silence() {
  if (!state_) return;
  std::lock_guard lock(state_->mutex);
  state_->peers.remove_if([&](const peer_time& peer) { return &peer == token_; });
}

}  // namespace testing_support
