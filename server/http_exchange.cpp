// Reading request heads and writing HTTP/1.0 answers.
#include "server/http_exchange.hpp"

namespace server {
namespace {

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool is_token(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
          c == '-' || c == '_' || c == '.' || c == '!' || c == '~' || c == '*' || c == '\'' ||
          c == '+' || c == '#' || c == '$' || c == '%' || c == '&' || c == '^' || c == '`' ||
          c == '|'))
      return false;
  return true;
}

bool is_version(std::string_view text) {
  return text.size() == 8 && text.substr(0, 5) == "HTTP/" && text[5] >= '0' && text[5] <= '9' &&
         text[6] == '.' && text[7] >= '0' && text[7] <= '9';
}

bool has_control_characters(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x21 || c == 0x7f) return true;
  return false;
}

}  // namespace

std::optional<std::size_t> find_head_end(std::string_view received) {
  for (std::size_t i = 0; i < received.size(); ++i) {
    if (received[i] != '\n') continue;
    if (i + 1 < received.size() && received[i + 1] == '\n') return i + 2;
    if (i + 2 < received.size() && received[i + 1] == '\r' && received[i + 2] == '\n') return i + 3;
  }
  return std::nullopt;
}

std::optional<request_line> parse_request_line(std::string_view head) {
  std::string_view line = head.substr(0, head.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

  const auto first_blank = line.find(' ');
  if (first_blank == std::string_view::npos) return std::nullopt;
  const auto second_blank = line.find(' ', first_blank + 1);
  if (second_blank == std::string_view::npos) return std::nullopt;
  const std::string_view method = line.substr(0, first_blank);
  const std::string_view target = line.substr(first_blank + 1, second_blank - first_blank - 1);
  const std::string_view version = line.substr(second_blank + 1);
  if (!is_token(method) || target.empty() || has_control_characters(target) || !is_version(version))
    return std::nullopt;

  std::string_view path = target;
  if (starts_with_ignoring_case(target, "http://")) {
    const std::string_view rest = target.substr(7);
    const auto slash = rest.find_first_of("/?#");
    if (slash == 0) return std::nullopt;  // no host
    path = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    if (path.front() != '/') path = "/";
  } else if (target.front() != '/') {
    return std::nullopt;
  }
  path = path.substr(0, path.find('#'));
  std::string_view query;
  if (const auto mark = path.find('?'); mark != std::string_view::npos) {
    query = path.substr(mark + 1);
    path = path.substr(0, mark);
  }
  return request_line{std::string(method), std::string(target), std::string(path),
                      std::string(query)};
}

std::string_view reason_phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

response status_page(int status) {
  const std::string title = std::to_string(status) + " " + std::string(reason_phrase(status));
  std::string explanation;
  switch (status) {
    case 303: explanation = "The page is elsewhere: follow the link."; break;
    case 404: explanation = "There is no page at this address."; break;
    case 400: explanation = "The request could not be read."; break;
    case 405: explanation = "Only GET and HEAD are served here."; break;
    case 408: explanation = "The request did not arrive in time."; break;
    case 503: explanation = "Too many connections at once; try again."; break;
    default: explanation = "The request could not be answered.";
  }
  return {status, "text/html",
          "<!DOCTYPE html>\r\n<html>\r\n<head><title>" + title + "</title></head>\r\n<body>\r\n<h1>" +
              title + "</h1>\r\n<p>" + explanation + "</p>\r\n</body>\r\n</html>\r\n"};
}

std::string format_response(const response& answer, bool head_only) {
  std::string out = "HTTP/1.0 " + std::to_string(answer.status) + " " +
                    std::string(reason_phrase(answer.status)) + "\r\n";
  out += "Server: comics-server\r\n";
  out += "Content-Type: " + answer.content_type + "\r\n";
  out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  if (answer.status == 405) out += "Allow: GET, HEAD\r\n";
  if (!answer.location.empty()) out += "Location: " + answer.location + "\r\n";
  out += "Connection: close\r\n\r\n";
  if (!head_only) out += answer.body;
  return out;
}

}  // namespace server
