// The download run: connects the settings to the HTTP client and the archive
// scan.
#pragma once

#include <string>

namespace app {

// Writes one progress line to standard output.
void WriteProgress(const std::string& line);

// Installs the progress writer (unless progress is off), creates the HTTP
// client with the proxy and no-cache settings, turns the target directory
// into a file-name prefix and fetches the chosen comic's archive. The client
// is freed and the directories written into are synced however the run ends.
void DownloadRun();

}  // namespace app
