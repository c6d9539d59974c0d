// Environment variables as the original platform shows them: the case of a
// variable's name does not matter.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The value of the environment variable `name` into `value`; false (and an
// empty value) when there is none. An exact match of the name wins; otherwise
// the first variable whose name equals it ignoring ASCII case. PATH comes in
// the original's form, ";" between its directories.
bool get_environment_variable(std::string_view name, std::string& value);

}  // namespace platform
