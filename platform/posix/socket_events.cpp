// Event registration of sockets on POSIX (WSAAsyncSelect): the message loop
// polls the registered sockets of its thread and posts their events as
// Windows Sockets announces them, each once until a call asks for it again.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/posix/socket_events.hpp"
#include "platform/posix/socket_registration.hpp"

namespace platform {
namespace {

using detail::fail_with_errno;
using detail::socket_error;
using detail::translate_errno;

// Sockets that event registration made non-blocking; they stay so until they
// are closed, as after WSAAsyncSelect. Counted so that the blocking calls of
// the synchronous mode skip the lock.
std::atomic<int> non_blocking_count{0};

// Event registration of one socket (WSAAsyncSelect).
struct registration {
  HWND window;
  std::uint32_t msg;
  std::int32_t mask;
  std::thread::id thread;
  bool read_armed = true;
  bool write_armed = true;
  bool accept_armed = true;
  bool connecting = false;
  bool connected = false;
  bool connect_done = false;  // a connect that finished at once, still to announce
  bool finished = false;      // close or a failed connect announced: nothing more
};

std::mutex registry_mutex;
std::map<TSocket, registration> registry;
std::set<TSocket> non_blocking_sockets;

}  // namespace

bool detail::non_blocking(TSocket s) {
  if (non_blocking_count.load(std::memory_order_relaxed) == 0) return false;
  std::lock_guard lock(registry_mutex);
  return non_blocking_sockets.count(s) != 0;
}

namespace {

template <class Change>
void change_registration(TSocket s, Change change) {
  std::lock_guard lock(registry_mutex);
  const auto found = registry.find(s);
  if (found != registry.end()) change(found->second);
}

bool is_listening(TSocket s) {
  int value = 0;
  socklen_t length = sizeof value;
  return ::getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &value, &length) == 0 && value != 0;
}

struct pending_event {
  TSocket s;
  HWND window;
  std::uint32_t msg;
  std::int32_t mask;
  std::uint16_t event;
  std::uint16_t error;
};

void announce_connect(TSocket s, registration& r, int error, std::vector<pending_event>& out) {
  r.connecting = false;
  r.connect_done = false;
  const std::uint16_t code = error == 0 ? 0 : static_cast<std::uint16_t>(translate_errno(error));
  out.push_back({s, r.window, r.msg, r.mask, FD_CONNECT, code});
  if (error != 0) {
    r.finished = true;
    return;
  }
  r.connected = true;
  if (!r.write_armed) return;
  r.write_armed = false;
  out.push_back({s, r.window, r.msg, r.mask, FD_WRITE, 0});
}

// What to watch for one registration; 0 when nothing.
short interest(TSocket s, const registration& r) {
  if (r.finished) return 0;
  if (r.connecting) return POLLOUT;
  if (r.connected) {
    short events = 0;
    if (r.read_armed) events |= POLLIN;
    if (r.write_armed) events |= POLLOUT;
    return events;
  }
  if (r.accept_armed && is_listening(s)) return POLLIN;
  return 0;
}

void handle_ready(TSocket s, registration& r, short revents, std::vector<pending_event>& out) {
  if (r.finished) return;
  if (r.connecting) {
    if (revents & (POLLOUT | POLLERR | POLLHUP)) announce_connect(s, r, socket_error(s), out);
    return;
  }
  if (!r.connected) {
    if (revents & POLLIN) {
      r.accept_armed = false;
      out.push_back({s, r.window, r.msg, r.mask, FD_ACCEPT, 0});
    }
    return;
  }
  if (r.read_armed && (revents & (POLLIN | POLLERR | POLLHUP))) {
    char byte;
    const ssize_t peeked = ::recv(s, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
      r.read_armed = false;
      out.push_back({s, r.window, r.msg, r.mask, FD_READ, 0});
    } else if (peeked == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      const int error = peeked == 0 ? 0 : errno;
      r.finished = true;
      out.push_back({s, r.window, r.msg, r.mask, FD_CLOSE,
                     static_cast<std::uint16_t>(error == 0 ? 0 : translate_errno(error))});
      return;
    }
  } else if (revents & (POLLERR | POLLHUP)) {
    // Reported whatever was asked for: announce the end once, or the loop spins.
    r.finished = true;
    out.push_back({s, r.window, r.msg, r.mask, FD_CLOSE,
                   static_cast<std::uint16_t>(translate_errno(socket_error(s)))});
    return;
  }
  if (r.write_armed && (revents & POLLOUT)) {
    r.write_armed = false;
    out.push_back({s, r.window, r.msg, r.mask, FD_WRITE, 0});
  }
}

void post_events(const std::vector<pending_event>& events) {
  for (const pending_event& e : events) {
    if ((e.mask & e.event) == 0) continue;
    PostMessageA(e.window, e.msg, e.s, MakeLParam(e.event, e.error));
  }
}

}  // namespace

void detail::tell_registration(TSocket s, socket_news news) {
  if (!non_blocking(s)) return;
  bool registration::*flag = nullptr;
  switch (news) {
    case socket_news::connected_at_once: flag = &registration::connect_done; break;
    case socket_news::connect_started: flag = &registration::connecting; break;
    case socket_news::send_blocked: flag = &registration::write_armed; break;
    case socket_news::received: flag = &registration::read_armed; break;
  }
  change_registration(s, [flag](registration& r) { r.*flag = true; });
}

void detail::forget_registration(TSocket s) {
  std::lock_guard lock(registry_mutex);
  registry.erase(s);
  non_blocking_sockets.erase(s);
  non_blocking_count = static_cast<int>(non_blocking_sockets.size());
}

// A receive from the read-ahead counts as a receive: read is announced again,
// by the loop, which finds the waiting bytes.
void detail::read_ahead_taken(TSocket s, bool) {
  detail::tell_registration(s, detail::socket_news::received);
}

int WSAAsyncSelect(TSocket s, HWND window, std::uint32_t msg, std::int32_t mask) {
  if (s < 0) return fail_with_errno(ENOTSOCK);
  const int flags = fcntl(s, F_GETFL);
  if (flags < 0) return fail_with_errno(errno);
  std::lock_guard lock(registry_mutex);
  fcntl(s, F_SETFL, flags | O_NONBLOCK);
  non_blocking_sockets.insert(s);
  non_blocking_count = static_cast<int>(non_blocking_sockets.size());
  if (mask == 0) {
    registry.erase(s);
    return 0;
  }
  registration r{window, msg, mask, std::this_thread::get_id()};
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  r.connected = ::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
  registry[s] = r;
  return 0;
}

void detail::wait_for_socket_events(int wake_fd, int timeout_ms) {
  std::vector<pollfd> fds{{wake_fd, POLLIN, 0}};
  std::vector<pending_event> events;
  {
    std::lock_guard lock(registry_mutex);
    const auto me = std::this_thread::get_id();
    for (auto& [s, r] : registry) {
      if (r.thread != me) continue;
      if (r.connect_done) announce_connect(s, r, 0, events);
      // Bytes of the read-ahead wait: readable, whatever the system holds.
      if (r.connected && r.read_armed && !r.finished && detail::read_ahead_waits(s)) {
        r.read_armed = false;
        events.push_back({s, r.window, r.msg, r.mask, FD_READ, 0});
      }
      if (const short watch = interest(s, r); watch != 0) fds.push_back({s, watch, 0});
    }
  }
  if (!events.empty()) timeout_ms = 0;
  if (poll(fds.data(), fds.size(), timeout_ms) > 0) {
    std::lock_guard lock(registry_mutex);
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      const auto found = registry.find(fds[i].fd);
      if (found != registry.end()) handle_ready(found->first, found->second, fds[i].revents, events);
    }
  }
  post_events(events);
}

}  // namespace platform
