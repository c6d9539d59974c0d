// The local clock on Windows: GetLocalTime.
#include "platform/private/dates.hpp"
#include "platform/windows/windows_api.hpp"

namespace platform::detail {

local_time read_local_clock() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace platform::detail
