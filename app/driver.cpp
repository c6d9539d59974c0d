// The program's main block.
#include "app/driver.hpp"

#include <iostream>

namespace app {

void main_block() {
  std::cout << "Quorvel V1.0   (c) 2026 the quorvel developers\n\n";
}

}  // namespace app
