// A plain loopback HTTP client for the end-to-end suites: sends exact request
// bytes to 127.0.0.1 and reads the answer until the server closes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace testing_support {

struct http_answer {
  bool closed = false;       // the server closed the connection within the time limit
  std::string raw;           // every byte received
  std::string status_line;   // the first line, without its line end
  int status = 0;            // the code of a status line "HTTP/d.d NNN ...", else 0
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;          // everything after the empty line

  // A header's value ("" when it is absent); `name` in lower case.
  std::string header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
  }
};

// Splits received bytes into status line, headers and body.
http_answer parse_answer(std::string raw, bool closed);

// A connection to 127.0.0.1:port that the test drives by hand.
class loopback_client {
 public:
  explicit loopback_client(std::uint16_t port);
  ~loopback_client();
  loopback_client(const loopback_client&) = delete;
  loopback_client& operator=(const loopback_client&) = delete;

  bool connected() const { return fd_ >= 0; }
  bool send(std::string_view bytes);
  // Ends the sending side; the server sees the end of the request stream.
  void finish_sending();
  // Whether the server has sent something or closed, waiting at most
  // `milliseconds` for it; reads nothing.
  bool wait_for_server(int milliseconds) const;
  // Reads until the server closes, at most timeout_seconds.
  http_answer receive(int timeout_seconds = 60);

 private:
  int fd_ = -1;
};

// Sends `request` exactly as given and reads the whole answer.
http_answer fetch_raw(std::uint16_t port, std::string_view request, int timeout_seconds = 60);
// "GET target HTTP/1.0" with a Host header.
http_answer fetch(std::uint16_t port, std::string_view target);

}  // namespace testing_support
