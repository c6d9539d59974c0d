// Notification windows on POSIX: one message queue per thread (woken through
// an eventfd), a table of windows naming their thread's queue and procedure.
#include "platform/posix/socket_events.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {
namespace {

struct posted {
  HWND window;
  TMessage message;
  std::function<void()> before_delivery;
};

struct thread_queue {
  std::mutex mutex;
  std::deque<posted> messages;
  int wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

  thread_queue() = default;
  thread_queue(const thread_queue&) = delete;
  thread_queue& operator=(const thread_queue&) = delete;
  ~thread_queue() {
    if (wake_fd >= 0) close(wake_fd);
  }

  void push(posted message) {
    {
      std::lock_guard lock(mutex);
      messages.push_back(std::move(message));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = write(wake_fd, &one, sizeof one);
  }

  bool pop(posted& message) {
    std::lock_guard lock(mutex);
    if (messages.empty()) return false;
    message = std::move(messages.front());
    messages.pop_front();
    return true;
  }

  std::size_t size() {
    std::lock_guard lock(mutex);
    return messages.size();
  }

  void drain_wake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = read(wake_fd, &count, sizeof count);
  }
};

struct window_record {
  std::shared_ptr<thread_queue> queue;
  std::shared_ptr<TWndMethod> method;
};

// The table of windows. Never freed: a background lookup may post to it while
// the program ends.
struct window_table {
  std::mutex mutex;
  std::unordered_map<HWND, window_record> windows;
  HWND last_window = 0;
};
window_table& table() {
  static window_table* const windows = new window_table;
  return *windows;
}

std::shared_ptr<thread_queue>& this_thread_queue() {
  thread_local std::shared_ptr<thread_queue> queue = std::make_shared<thread_queue>();
  return queue;
}

bool find_window(HWND window, window_record& record) {
  window_table& t = table();
  std::lock_guard lock(t.mutex);
  const auto found = t.windows.find(window);
  if (found == t.windows.end()) return false;
  record = found->second;
  return true;
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  auto shared_method = std::make_shared<TWndMethod>(std::move(method));
  window_table& t = table();
  std::lock_guard lock(t.mutex);
  do ++t.last_window;
  while (t.last_window == 0 || t.windows.count(t.last_window) != 0);
  t.windows[t.last_window] = {this_thread_queue(), std::move(shared_method)};
  return t.last_window;
}

void DeallocateHWnd(HWND window) {
  window_table& t = table();
  std::lock_guard lock(t.mutex);
  t.windows.erase(window);
}

bool detail::post_message_with(HWND window, std::uint32_t msg, std::int32_t wparam,
                               std::int32_t lparam, std::function<void()> before_delivery) {
  window_record record;
  if (!find_window(window, record)) return false;
  record.queue->push({window, {msg, wparam, lparam, 0}, std::move(before_delivery)});
  return true;
}

bool PostMessageA(HWND window, std::uint32_t msg, std::int32_t wparam, std::int32_t lparam) {
  return detail::post_message_with(window, msg, wparam, lparam, nullptr);
}

std::int32_t SendMessageA(HWND window, std::uint32_t msg, std::int32_t wparam,
                          std::int32_t lparam) {
  window_record record;
  if (!find_window(window, record)) return 0;
  TMessage message{msg, wparam, lparam, 0};
  (*record.method)(message);
  return message.Result;
}

int ProcessMessages() {
  thread_queue& queue = *this_thread_queue();
  detail::wait_for_socket_events(queue.wake_fd, 0);
  queue.drain_wake();
  int delivered = 0;
  for (std::size_t pending = queue.size(); pending > 0; --pending) {
    posted message;
    if (!queue.pop(message)) break;
    window_record record;
    // The record keeps the procedure alive even if the window goes meanwhile.
    if (!find_window(message.window, record)) continue;
    if (message.before_delivery) message.before_delivery();
    (*record.method)(message.message);
    ++delivered;
  }
  return delivered;
}

bool WaitMessage(int timeout_ms) {
  thread_queue& queue = *this_thread_queue();
  if (queue.size() > 0) return true;
  detail::wait_for_socket_events(queue.wake_fd, timeout_ms);
  queue.drain_wake();
  return queue.size() > 0;
}

}  // namespace platform
