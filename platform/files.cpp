// What the file stand-ins of every system share: the last-error number of
// the calling thread, stepping through an enumeration, the errors of
// whole-file writes, and appending to a file through the path mapping.
#include "platform/files.hpp"

#include "platform/private/files.hpp"

namespace platform {
namespace {

thread_local std::uint32_t last_error = error_success;

}  // namespace

std::uint32_t get_last_error() { return last_error; }
void detail::set_last_error(std::uint32_t error) { last_error = error; }

bool find_next_file(find_handle handle, find_data& data) {
  if (handle == invalid_find_handle) {
    detail::set_last_error(error_invalid_handle);
    return false;
  }
  return handle->next(data);
}

void find_close(find_handle handle) { delete handle; }

std::unique_ptr<Exception> EFCreateError::copy() const {
  return std::make_unique<EFCreateError>(*this);
}
void EFCreateError::raise() const { throw *this; }
std::unique_ptr<Exception> EWriteError::copy() const {
  return std::make_unique<EWriteError>(*this);
}
void EWriteError::raise() const { throw *this; }

void detail::raise_create_error(std::string_view library_path, const std::string& reason) {
  throw EFCreateError("Cannot create file \"" + std::string(library_path) + "\". " + reason);
}

void detail::raise_write_error(const std::string& reason) {
  throw EWriteError("Stream write error. " + reason);
}

bool append_to_file(std::string_view library_path, std::string_view text) {
  const std::string path = host_path(library_path);
  if (path.empty()) return false;
  return detail::append_to_host_file(path, text);
}

}  // namespace platform
