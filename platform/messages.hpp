// Notification windows and the thread's message loop, as the components use
// them: a window is a per-component message queue identified by a handle;
// messages posted to it are delivered by the loop of the thread that made the
// window, in posting order, to the window's procedure.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using HWND = std::uint32_t;  // 0 is no window

// The message record a window procedure gets: number, the two parameters
// (lParam read as a low and a high 16-bit half) and the result.
struct TMessage {
  std::uint32_t Msg;
  std::int32_t WParam;
  std::int32_t LParam;
  std::int32_t Result;
};

inline std::uint16_t LParamLo(const TMessage& message) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(message.LParam) & 0xFFFFu);
}
inline std::uint16_t LParamHi(const TMessage& message) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(message.LParam) >> 16);
}
inline std::int32_t MakeLParam(std::uint16_t low, std::uint16_t high) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) << 16) | low);
}

inline constexpr std::uint32_t WM_QUERYENDSESSION = 17;
inline constexpr std::uint32_t WM_USER = 1024;

using TWndMethod = std::function<void(TMessage& message)>;

// Makes a window on the calling thread whose messages go to method.
HWND AllocateHWnd(TWndMethod method);
// Destroys a window; messages still queued for it are dropped.
void DeallocateHWnd(HWND window);

// Queues a message for the window; any thread may post. False when there is
// no such window.
bool PostMessageA(HWND window, std::uint32_t msg, std::int32_t wparam, std::int32_t lparam);
// Delivers a message to the window's procedure at once, on the calling
// thread, and returns its result (0 when there is no such window).
std::int32_t SendMessageA(HWND window, std::uint32_t msg, std::int32_t wparam, std::int32_t lparam);

// One pass of the calling thread's message loop: polls the sockets registered
// for event notification on this thread's windows, then delivers every
// message queued at that moment, in posting order. Messages posted by the
// procedures wait for the next pass. Returns the number delivered.
int ProcessMessages();
// Waits until a message is queued for this thread or a registered socket has
// an event, for at most timeout_ms; true when there is something.
bool WaitMessage(int timeout_ms);
// Runs the loop until done() is true (checked before and after every pass) or
// timeout_ms have passed; returns done().
bool RunMessageLoop(const std::function<bool()>& done, int timeout_ms);

}  // namespace platform
