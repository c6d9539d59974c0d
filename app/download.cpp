// The download run.
#include "app/download.hpp"

#include <iostream>
#include <memory>

#include "app/archive.hpp"
#include "app/options.hpp"
#include "lib/os.hpp"
#include "platform/files.hpp"
#include "tcpip/http.hpp"

namespace app {
namespace {

// Syncs the directories the run wrote strips into, once, however the run
// ends: each strip is synced before it gets its name, so a name that a power
// cut takes away only means that the next run fetches the strip again.
class directory_sync {
 public:
  directory_sync() = default;
  directory_sync(const directory_sync&) = delete;
  directory_sync& operator=(const directory_sync&) = delete;
  // At the normal end a failed sync is the run's failure.
  void finish() {
    done_ = true;
    if (!platform::sync_written_directories())
      throw platform::EWriteError(
          "Stream write error. The target directory could not be synced");
  }
  // On the way out of an error, which is what gets reported.
  ~directory_sync() {
    if (!done_) platform::sync_written_directories();
  }

 private:
  bool done_ = false;
};

}  // namespace

void WriteProgress(const std::string& line) { std::cout << line << '\n' << std::flush; }

void DownloadRun() {
  if (Settings.ShowProgress) ProgressProc = WriteProgress;
  const auto http = std::make_unique<tcpip::T_HTTP>(nullptr);  // freed on every way out
  http->Proxy = Settings.ProxyServer;
  http->NoCache = Settings.NoCacheSetting;
  Settings.TargetDir = qlib::expand_dir(Settings.TargetDir);
  directory_sync sync;
  FetchArchive(Settings.ComicIndex, Settings.TargetDir, *http, Settings.Connections);
  sync.finish();
}

}  // namespace app
