// Reading the comics server's options.
#include "server/server_options.hpp"

#include "app/comics.hpp"

namespace server {
namespace {

std::optional<long> number(std::string_view text, long low, long high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

// "host:port" with a host that is not empty.
bool split_address(std::string_view text, std::string& host, std::uint16_t& port) {
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const auto value = number(text.substr(colon + 1), 0, 65535);
  if (!value) return false;
  host = std::string(text.substr(0, colon));
  port = static_cast<std::uint16_t>(*value);
  return true;
}

bool address_of_url(std::string_view url, std::string& host, std::uint16_t& port) {
  constexpr std::string_view scheme = "http://";
  if (url.size() >= scheme.size()) {
    std::string start(url.substr(0, scheme.size()));
    for (char& c : start)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (start == scheme) url.remove_prefix(scheme.size());
  }
  url = url.substr(0, url.find('/'));
  if (url.find(':') == std::string_view::npos) {
    host = std::string(url);
    port = 80;
    return !host.empty();
  }
  return split_address(url, host, port);
}

}  // namespace

std::optional<server_options> parse_options(const std::vector<std::string>& args,
                                            std::string_view base_url, std::string& error) {
  server_options options;
  if (!address_of_url(base_url, options.host, options.port)) {
    error = "the built-in server address \"" + std::string(base_url) + "\" names no host";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const auto equals = name.find('='); equals != std::string::npos && name.rfind("--", 0) == 0) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == "--help" || name == "-h" || name == "--version" || name == "--log") {
      if (value) {
        error = name + " takes no value";
        return std::nullopt;
      }
      if (name == "--log")
        options.log = true;
      else if (name == "--version")
        options.version = true;
      else
        options.help = true;
      continue;
    }
    if (name != "--listen" && name != "--days" && name != "--today" && name != "--timeout" &&
        name != "--archive" && name != "--latency") {
      error = "unknown option \"" + args[i] + "\"";
      return std::nullopt;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      value = args[++i];
    }
    if (name == "--archive") {
      if (value->empty()) {
        error = "--archive wants a folder";
        return std::nullopt;
      }
      options.archive = *value;
    } else if (name == "--listen") {
      if (!split_address(*value, options.host, options.port)) {
        error = "--listen wants HOST:PORT, not \"" + *value + "\"";
        return std::nullopt;
      }
    } else if (name == "--days") {
      const auto days = number(*value, 0, max_days);
      if (!days) {
        error = "--days wants a number from 0 to " + std::to_string(max_days) + ", not \"" + *value + "\"";
        return std::nullopt;
      }
      options.days = static_cast<int>(*days);
    } else if (name == "--today") {
      options.today = parse_iso_date(*value);
      if (!options.today) {
        error = "--today wants a date YYYY-MM-DD, not \"" + *value + "\"";
        return std::nullopt;
      }
    } else if (name == "--latency") {
      const auto milliseconds = number(*value, 0, max_latency_ms);
      if (!milliseconds) {
        error = "--latency wants a number of milliseconds from 0 to " + std::to_string(max_latency_ms) +
                ", not \"" + *value + "\"";
        return std::nullopt;
      }
      options.latency_ms = static_cast<int>(*milliseconds);
    } else {
      const auto seconds = number(*value, 1, 3600);
      if (!seconds) {
        error = "--timeout wants a number of seconds from 1 to 3600, not \"" + *value + "\"";
        return std::nullopt;
      }
      options.timeout_seconds = static_cast<int>(*seconds);
    }
  }
  return options;
}

std::string usage_text(std::string_view base_url) {
  return "Usage: comics-server [options]\n"
         "\n"
         "Serves the comics web site that quorvel fetches from: for each of the " +
         std::to_string(app::comic_count) +
         "\n"
         "comics of its catalogue an archive calendar at /SECTION/KEY/archive/, a page\n"
         "per archived day at /SECTION/KEY/archive/cal-YYYYMMDD.html and a GIF strip\n"
         "per day under /SECTION/KEY/archive/images/ (two images on Sundays). Requests\n"
         "in origin form and in absolute form are both served, so it can also stand as\n"
         "quorvel's proxy. Its home page / shows every comic's latest strip.\n"
         "\n"
         "Options:\n"
         "  --listen HOST:PORT  where to listen (default: the catalogue's address,\n"
         "                      " +
         std::string(base_url) +
         "); port 0 picks a free port\n"
         "  --archive DIR       show the strips that quorvel wrote into DIR instead:\n"
         "                      the comics their names name, the days on disk\n"
         "                      (DIR is only read)\n"
         "  --days N            archived days, today included (default 30, at most " +
         std::to_string(max_days) +
         ")\n"
         "  --today YYYY-MM-DD  the newest archived day (default: today by the local\n"
         "                      clock)\n"
         "  --log               one line per request on standard error:\n"
         "                      method, target, status, body bytes\n"
         "  --timeout SECONDS   time allowed for a request to arrive and for its\n"
         "                      answer to leave (default 30, at most 3600)\n"
         "  --latency MS        start every answer MS milliseconds after its connection\n"
         "                      came in, like a server a real link away (default 0,\n"
         "                      at most " +
         std::to_string(max_latency_ms) +
         ")\n"
         "  --version           the version, then end\n"
         "  --help              this text\n"
         "\n"
         "The first line of standard output is the port the server listens on.\n"
         "SIGINT (Ctrl+C) and SIGTERM stop it.\n";
}

std::string archive_range(const server_options& options) {
  if (options.archive) return "the strips in " + *options.archive;
  if (options.days <= 0) return "no archived days";
  const std::string newest = options.today ? iso_date(*options.today) : "today";
  if (options.days == 1) return newest + " only";
  const int before = options.days - 1;
  return newest + " and " + std::to_string(before) + (before == 1 ? " day" : " days") + " before";
}

}  // namespace server
