// One HTTP/1.0 exchange as the comics server sees it: finding the end of a
// request head, reading its request line, and writing the answer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace server {

// Where the head of a request ends (just after its empty line, which may end
// in CR LF or a bare LF); nothing while the empty line has not arrived.
std::optional<std::size_t> find_head_end(std::string_view received);

struct request_line {
  std::string method;  // as sent, e.g. "GET"
  std::string target;  // as sent: "/comics/..." or "http://host:port/comics/..."
  std::string path;    // the path the target names, without query or fragment
  std::string query;   // what stands between "?" and "#", as sent (a form's choice)
};

// Reads the first line of a request head: METHOD SP TARGET SP HTTP/d.d with a
// target in origin form or absolute form ("http://" in any letter case, the
// host ignored, a missing path taken as "/"). Nothing when it cannot be read.
std::optional<request_line> parse_request_line(std::string_view head);

struct response {
  response(int status_code = 200, std::string type = {}, std::string text = {}, std::string to = {})
      : status(status_code), content_type(std::move(type)), body(std::move(text)), location(std::move(to)) {}
  int status;
  std::string content_type;
  std::string body;
  std::string location;  // where a redirection (303) sends the browser
};

// "OK", "Not Found", ...
std::string_view reason_phrase(int status);
// A small HTML page naming the status, for answers that are not pages of the site.
response status_page(int status);

// The bytes sent: status line "HTTP/1.0 ...", Content-Type, Content-Length,
// "Connection: close", the empty line and, unless head_only, the body.
std::string format_response(const response& answer, bool head_only);

}  // namespace server
