// The program's main block.
#include "app/driver.hpp"

#include <iostream>

#include "app/download.hpp"
#include "app/options.hpp"
#include "lib/os.hpp"

namespace app {

void main_block() {
  Settings = TSettings{};
  std::cout << "Quorvel V1.0   (c) 2026 the quorvel developers\n\n";
  HandleHelpWords(qlib::command_tail());
  HandleOptions(DefaultParams);
  HandleOptions(qlib::command_tail());
  DownloadRun();
}

}  // namespace app
