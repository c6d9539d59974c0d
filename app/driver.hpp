// The program's main block.
#pragma once

namespace app {

// Writes the banner and an empty line, reads DefaultParams and then the
// command line into Settings, and runs the download.
void main_block();

}  // namespace app
