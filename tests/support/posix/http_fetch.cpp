// Loopback HTTP client for the end-to-end suites.
#include "tests/support/http_fetch.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace testing_support {

http_answer parse_answer(std::string raw, bool closed) {
  http_answer answer;
  answer.closed = closed;
  answer.raw = std::move(raw);
  const std::string& text = answer.raw;
  std::size_t head_end = text.find("\r\n\r\n");
  std::size_t body_start = head_end == std::string::npos ? text.size() : head_end + 4;
  if (head_end == std::string::npos) head_end = text.size();
  std::size_t line_start = 0;
  bool first = true;
  while (line_start < head_end) {
    std::size_t line_end = text.find("\r\n", line_start);
    if (line_end == std::string::npos || line_end > head_end) line_end = head_end;
    const std::string line = text.substr(line_start, line_end - line_start);
    line_start = line_end + 2;
    if (first) {
      first = false;
      answer.status_line = line;
      if (line.rfind("HTTP/", 0) == 0 && line.size() >= 12 && line[8] == ' ')
        answer.status = std::atoi(line.substr(9, 3).c_str());
      continue;
    }
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::size_t value_start = colon + 1;
    while (value_start < line.size() && line[value_start] == ' ') ++value_start;
    answer.headers[name] = line.substr(value_start);
  }
  answer.body = text.substr(body_start);
  return answer;
}

loopback_client::loopback_client(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

loopback_client::~loopback_client() {
  if (fd_ >= 0) ::close(fd_);
}

bool loopback_client::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void loopback_client::finish_sending() { ::shutdown(fd_, SHUT_WR); }

bool loopback_client::wait_for_server(int milliseconds) const {
  pollfd fd{fd_, POLLIN, 0};
  return ::poll(&fd, 1, milliseconds) > 0;
}

http_answer loopback_client::receive(int timeout_seconds) {
  std::string raw;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return parse_answer(std::move(raw), false);
    pollfd fd{fd_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return parse_answer(std::move(raw), true);
    raw.append(buffer, static_cast<std::size_t>(n));
  }
}

http_answer fetch_raw(std::uint16_t port, std::string_view request, int timeout_seconds) {
  loopback_client client(port);
  if (!client.connected() || !client.send(request)) return {};
  return client.receive(timeout_seconds);
}

http_answer fetch(std::uint16_t port, std::string_view target) {
  return fetch_raw(port, "GET " + std::string(target) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
}

}  // namespace testing_support
