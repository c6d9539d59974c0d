// What each system's file stand-ins and the shared file code give each other:
// the system half of the file stand-ins.
// Private to platform/: nothing above it includes this header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.hpp"

namespace platform::detail {

// Sets the calling thread's last-error number.
void set_last_error(std::uint32_t error);
// Raise EFCreateError and EWriteError with the system's text of the reason.
[[noreturn]] void raise_create_error(std::string_view library_path, const std::string& reason);
[[noreturn]] void raise_write_error(const std::string& reason);
// Appends to the file of a host path, as append_to_file; given by each system.
bool append_to_host_file(const std::string& host_path, std::string_view text);
// Whether a write of a group that waits for its name has that host path.
bool waiting_write_named(const std::string& host_path);

}  // namespace platform::detail
