// The download run.
#include "app/download.hpp"

#include <iostream>
#include <memory>

#include "app/archive.hpp"
#include "app/options.hpp"
#include "lib/os.hpp"
#include "tcpip/http.hpp"

namespace app {

void WriteProgress(const std::string& line) { std::cout << line << '\n' << std::flush; }

void DownloadRun() {
  if (Settings.ShowProgress) ProgressProc = WriteProgress;
  const auto http = std::make_unique<tcpip::T_HTTP>(nullptr);  // freed on every way out
  http->Proxy = Settings.ProxyServer;
  http->NoCache = Settings.NoCacheSetting;
  Settings.TargetDir = qlib::expand_dir(Settings.TargetDir);
  FetchArchive(Settings.ComicIndex, Settings.TargetDir, *http);
}

}  // namespace app
