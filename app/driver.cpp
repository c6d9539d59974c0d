// The program's main block.
#include "app/driver.hpp"

#include <iostream>
#include <string>

#include "app/download.hpp"
#include "app/options.hpp"
#include "lib/error_codes.hpp"
#include "lib/os.hpp"
#include "lib/system.hpp"
#include "lib/types.hpp"

namespace app {

void main_block() {
  Settings = TSettings{};
  std::cout << "Quorvel V1.0   (c) 2026 the quorvel developers\n\n";
  HandleHelpWords(qlib::command_tail());
  HandleOptions(DefaultParams);
  // The options are read from a short string: a longer line would lose its
  // end without a word (a later /mode, say), so it ends the run instead.
  if (qlib::full_command_tail().size() > qlib::short_max)
    throw qlib::make_error(qlib::err_command_line_too_long, "/limit=" + std::to_string(qlib::short_max));
  HandleOptions(qlib::command_tail());
  DownloadRun();
}

}  // namespace app
