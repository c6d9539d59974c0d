// The program's main block.
#pragma once

namespace app {

// Writes the banner and an empty line, answers a command line that is only a
// help word, reads DefaultParams and then the command line into Settings, and
// runs the download.
void main_block();

}  // namespace app
