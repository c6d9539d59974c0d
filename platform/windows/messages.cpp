// Notification windows on Windows: a message-only window per component, the
// thread's own message queue and a real message loop (PeekMessage and
// DispatchMessage).
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/messages.hpp"
#include "platform/windows/windows_api.hpp"

// Outside the platform namespace, whose HWND is the interface's 32-bit handle.
static const ::HWND message_only_parent = HWND_MESSAGE;

namespace platform {
namespace {

constexpr const char* window_class_name = "quorvel notification window";

// Posted to the thread itself (no window) to mark the end of one pass of
// ProcessMessages; lParam tells one pass from another.
constexpr UINT end_of_pass = WM_APP + 1;

struct window_record {
  TWndMethod method;
};

// The windows this layer made, so that a pass counts what it delivered to
// them and a destroyed window's handle is known to be gone.
std::mutex windows_mutex;
std::unordered_map<::HWND, std::shared_ptr<window_record>> known_windows;

std::shared_ptr<window_record> find_window(::HWND window) {
  std::lock_guard lock(windows_mutex);
  const auto found = known_windows.find(window);
  return found == known_windows.end() ? nullptr : found->second;
}

// Hands every message to the window's method once the window is fully made
// and until it is being destroyed; the system's own messages of creation and
// destruction get the default handling.
LRESULT CALLBACK window_procedure(::HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  const std::shared_ptr<window_record> record = find_window(window);
  if (!record) return DefWindowProcA(window, msg, wparam, lparam);
  TMessage message{msg, static_cast<std::int32_t>(wparam), static_cast<std::int32_t>(lparam), 0};
  record->method(message);
  return message.Result;
}

bool register_window_class() {
  static const bool registered = [] {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = window_class_name;
    return RegisterClassA(&window_class) != 0;
  }();
  return registered;
}

// Makes sure the thread has a message queue, which the system creates at the
// first call that looks at it.
void ensure_queue() {
  MSG ignored;
  PeekMessageA(&ignored, nullptr, 0, 0, PM_NOREMOVE);
}

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
  if (!register_window_class()) return 0;
  ::HWND window = CreateWindowExA(0, window_class_name, "", 0, 0, 0, 0, 0, message_only_parent, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
  if (!window) return 0;
  auto record = std::make_shared<window_record>(window_record{std::move(method)});
  std::lock_guard lock(windows_mutex);
  known_windows[window] = std::move(record);
  return windows::from_system(window);
}

void DeallocateHWnd(HWND window) {
  ::HWND system_window = windows::to_system(window);
  {
    std::lock_guard lock(windows_mutex);
    if (known_windows.erase(system_window) == 0) return;
  }
  // Destroying the window also drops the messages still queued for it.
  DestroyWindow(system_window);
}

bool PostMessageA(HWND window, std::uint32_t msg, std::int32_t wparam, std::int32_t lparam) {
  if (window == 0 || !find_window(windows::to_system(window))) return false;
  return ::PostMessageA(windows::to_system(window), msg,
                        static_cast<WPARAM>(static_cast<std::uint32_t>(wparam)),
                        static_cast<LPARAM>(lparam)) != 0;
}

std::int32_t SendMessageA(HWND window, std::uint32_t msg, std::int32_t wparam,
                          std::int32_t lparam) {
  if (window == 0 || !find_window(windows::to_system(window))) return 0;
  return static_cast<std::int32_t>(::SendMessageA(
      windows::to_system(window), msg, static_cast<WPARAM>(static_cast<std::uint32_t>(wparam)),
      static_cast<LPARAM>(lparam)));
}

int ProcessMessages() {
  // Messages that the procedures post meanwhile queue up behind the marker
  // and so wait for the next pass. Socket events are posted by the system
  // itself as they happen.
  static thread_local LPARAM pass = 0;
  ensure_queue();
  const LPARAM this_pass = ++pass;
  if (!PostThreadMessageA(GetCurrentThreadId(), end_of_pass, 0, this_pass)) return 0;
  int delivered = 0;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.hwnd == nullptr) {
      if (message.message == end_of_pass && message.lParam == this_pass) break;
      continue;  // a marker of an earlier, interrupted pass, or a stray thread message
    }
    const bool ours = find_window(message.hwnd) != nullptr;
    DispatchMessageA(&message);
    if (ours) ++delivered;
  }
  return delivered;
}

bool WaitMessage(int timeout_ms) {
  ensure_queue();
  const DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
  return MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLPOSTMESSAGE | QS_SENDMESSAGE,
                                     MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
}

}  // namespace platform
