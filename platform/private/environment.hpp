// The system half of the environment lookup: each system reads its own.
// Private to platform/: nothing above it includes this header.
#pragma once

#include <string>
#include <string_view>

#include "platform/environment.hpp"

namespace platform::detail {

// The system's lookup behind get_environment_variable, for a name that is not
// empty and holds no "=": the value into `value`, false when there is none.
bool system_environment_variable(std::string_view name, std::string& value);

}  // namespace platform::detail
