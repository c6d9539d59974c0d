// Reading request heads and writing answers.
#include "server/http_exchange.hpp"

#include <gtest/gtest.h>

namespace {

struct head_case {
  const char* received;
  std::size_t end;  // 0: not complete
  const char* reason;
};

class HeadEnd : public testing::TestWithParam<head_case> {};

TEST_P(HeadEnd, IsFoundAfterTheEmptyLine) {
  const auto found = server::find_head_end(GetParam().received);
  if (GetParam().end == 0) {
    EXPECT_FALSE(found) << GetParam().reason;
    return;
  }
  ASSERT_TRUE(found) << GetParam().reason;
  EXPECT_EQ(*found, GetParam().end) << GetParam().reason;
}

INSTANTIATE_TEST_SUITE_P(
    HttpExchange, HeadEnd,
    testing::Values(head_case{"GET / HTTP/1.0\r\n\r\n", 18, "CR LF lines"},
                    head_case{"GET / HTTP/1.0\n\n", 16, "bare LF lines"},
                    head_case{"GET / HTTP/1.0\r\nHost: a\r\n\r\nrest", 27, "bytes after the head stay out"},
                    head_case{"GET / HTTP/1.0\r\nHost: a\r\n", 0, "the empty line has not come"},
                    head_case{"GET / HTTP/1.0\r\n\r", 0, "cut inside the empty line"},
                    head_case{"", 0, "nothing yet"}));

struct line_case {
  const char* head;
  bool ok;
  const char* method;
  const char* path;
  const char* reason;
};

class RequestLine : public testing::TestWithParam<line_case> {};

TEST_P(RequestLine, IsReadOrRefused) {
  const line_case& row = GetParam();
  const auto line = server::parse_request_line(row.head);
  ASSERT_EQ(line.has_value(), row.ok) << row.reason;
  if (!line) return;
  EXPECT_EQ(line->method, row.method) << row.reason;
  EXPECT_EQ(line->path, row.path) << row.reason;
}

INSTANTIATE_TEST_SUITE_P(
    HttpExchange, RequestLine,
    testing::Values(
        line_case{"GET /comics/a/archive/ HTTP/1.0\r\n\r\n", true, "GET", "/comics/a/archive/", "origin form"},
        line_case{"GET http://localhost:8642/comics/a/ HTTP/1.0\r\n\r\n", true, "GET", "/comics/a/",
                  "absolute form as quorvel sends it"},
        line_case{"GET HTTP://Host/x HTTP/1.1\r\n\r\n", true, "GET", "/x", "scheme in capitals, HTTP/1.1"},
        line_case{"GET http://host:1 HTTP/1.0\r\n\r\n", true, "GET", "/", "absolute form without a path"},
        line_case{"GET http://host?q=1 HTTP/1.0\r\n\r\n", true, "GET", "/", "a query right after the host"},
        line_case{"GET /a/b?x=1#f HTTP/1.0\r\n\r\n", true, "GET", "/a/b", "query and fragment dropped"},
        line_case{"HEAD / HTTP/1.0\n\n", true, "HEAD", "/", "bare LF"},
        line_case{"GET / HTTP/1.0\r\nHost: x\r\n\r\n", true, "GET", "/", "headers follow"},
        line_case{"GET /\r\n\r\n", false, "", "", "no version"},
        line_case{"GET / FTP/1.0\r\n\r\n", false, "", "", "not HTTP"},
        line_case{"GET / HTTP/1.0 extra\r\n\r\n", false, "", "", "a fourth word"},
        line_case{"GET  / HTTP/1.0\r\n\r\n", false, "", "", "two blanks"},
        line_case{"GET comics HTTP/1.0\r\n\r\n", false, "", "", "a relative target"},
        line_case{"GET https://host/ HTTP/1.0\r\n\r\n", false, "", "", "a scheme not served"},
        line_case{"GET http:///x HTTP/1.0\r\n\r\n", false, "", "", "absolute form without a host"},
        line_case{"GET /a\tb HTTP/1.0\r\n\r\n", false, "", "", "a control character in the target"},
        line_case{"G(T / HTTP/1.0\r\n\r\n", false, "", "", "a method that is no token"},
        line_case{"\r\n\r\n", false, "", "", "an empty line"}));

TEST(HttpExchange, TheQueryIsKeptApartFromThePath) {
  struct row {
    const char* head;
    const char* path;
    const char* query;
  };
  for (const row& r : {row{"GET /a/?day=%2Fx#top HTTP/1.0\r\n\r\n", "/a/", "day=%2Fx"},
                       row{"GET http://host:1/a/?b=1&c HTTP/1.0\r\n\r\n", "/a/", "b=1&c"},
                       row{"GET /a/#x?y HTTP/1.0\r\n\r\n", "/a/", ""},
                       row{"GET /a/ HTTP/1.0\r\n\r\n", "/a/", ""}}) {
    const auto line = server::parse_request_line(r.head);
    ASSERT_TRUE(line) << r.head;
    EXPECT_EQ(line->path, r.path) << r.head;
    EXPECT_EQ(line->query, r.query) << r.head;
  }
}

TEST(HttpExchange, AnswerBytesCarryVersionTypeLengthAndClose) {
  const server::response answer{200, "text/html", "<p>hi</p>"};
  EXPECT_EQ(server::format_response(answer, false),
            "HTTP/1.0 200 OK\r\nServer: comics-server\r\nContent-Type: text/html\r\n"
            "Content-Length: 9\r\nConnection: close\r\n\r\n<p>hi</p>");
  EXPECT_EQ(server::format_response(answer, true),
            "HTTP/1.0 200 OK\r\nServer: comics-server\r\nContent-Type: text/html\r\n"
            "Content-Length: 9\r\nConnection: close\r\n\r\n");
}

TEST(HttpExchange, StatusPagesAreSmallHtmlNamingTheStatus) {
  for (int status : {400, 404, 405, 408, 500, 503}) {
    const server::response page = server::status_page(status);
    EXPECT_EQ(page.status, status);
    EXPECT_EQ(page.content_type, "text/html");
    EXPECT_NE(page.body.find("<title>" + std::to_string(status) + " "), std::string::npos);
    EXPECT_NE(server::reason_phrase(status), "Unknown") << status;
  }
}

}  // namespace
