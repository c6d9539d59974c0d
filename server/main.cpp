// comics-server: the local comics web site that quorvel fetches from.
#include <iostream>
#include <string>
#include <vector>

#include "app/comics.hpp"
#include "platform/server_socket.hpp"
#include "server/archive_folder.hpp"
#include "server/server_options.hpp"
#include "server/web_server.hpp"

int main(int argc, char** argv) {
  const std::string_view base_url = app::Comics[0].BaseURL;
  std::string error;
  const auto options =
      server::parse_options(std::vector<std::string>(argv + 1, argv + argc), base_url, error);
  if (!options) {
    std::cerr << "comics-server: " << error << "\nTry \"comics-server --help\".\n";
    return 2;
  }
  if (options->help) {
    std::cout << server::usage_text(base_url);
    return 0;
  }
  if (options->version) {
    std::cout << "comics-server (quorvel) " QUORVEL_VERSION "\n";
    return 0;
  }

  if (options->archive && !server::is_folder(*options->archive)) {
    std::cerr << "comics-server: --archive " << *options->archive << ": no such folder\n";
    return 1;
  }

  platform::server_socket socket;
  if (!socket.listen(options->host, options->port, error)) {
    std::cerr << "comics-server: " << error << "\n";
    return 1;
  }
  socket.stop_on_signals();
  // The port comes first and alone, so that whoever started the server on
  // port 0 can read it.
  std::cout << socket.port() << "\n"
            << "comics-server: " << (options->archive ? "the" : std::to_string(app::comic_count))
            << " comics at http://" << options->host << ":"
            << socket.port() << "/ (" << server::archive_range(*options)
            << "); Ctrl+C stops it" << std::endl;

  server::server_settings settings;
  settings.fixed_today = options->today;
  settings.days = options->days;
  settings.log = options->log;
  settings.read_limit = std::chrono::seconds(options->timeout_seconds);
  settings.archive = options->archive;
  settings.latency = std::chrono::milliseconds(options->latency_ms);
  server::web_server(socket, settings, std::cerr).run();
  return 0;
}
