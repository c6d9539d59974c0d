// The program's main block.
#pragma once

namespace app {

// Writes the banner and an empty line.
void main_block();

}  // namespace app
