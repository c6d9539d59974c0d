// The Windows headers and the conversions between the system's handles and
// the 32-bit handles of the platform interface; for platform/windows/ only.
// Include it after every platform and standard header: its macros (FD_READ,
// WM_USER, INVALID_SOCKET, ...) would otherwise rewrite their names.
#pragma once

#include <cstdint>

#include "platform/messages.hpp"

#include <winsock2.h>
#include <windows.h>

namespace platform::windows {

// Window handles carry 32 significant bits on 64-bit Windows, so that 32-bit
// and 64-bit programs can share them; sign extension restores the full value.
inline ::HWND to_system(HWND window) {
  return reinterpret_cast<::HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(window)));
}
inline HWND from_system(::HWND window) {
  return static_cast<HWND>(reinterpret_cast<std::uintptr_t>(window));
}

}  // namespace platform::windows
