// The HTTP/1.0 client: request bytes, where the connection goes, responses,
// events and their order, and recovery after a failed transfer. How a
// transfer ends (refused, reset, closed, cut short) is the transfer suite's.
#include "tcpip/http.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "platform/runtime.hpp"
#include "tests/support/scripted_server.hpp"

namespace {

using namespace tcpip;
using testing_support::refused_port;
using testing_support::scripted_answer;
using testing_support::scripted_server;

using testing_support::loopback;

// Every callback of a component, in the order they came.
struct event_log {
  std::vector<std::string> events;
  std::vector<std::int32_t> received;
  std::vector<std::int32_t> sent;

  void attach(T_HTTP& http, bool with_trace = true) {
    if (with_trace)
      http.OnTrace = [this](const std::string& s, TTraceLevel level) {
        events.push_back("trace " + std::to_string(level) + " " + s);
      };
    http.OnDataReceived = [this](platform::TObject*, std::int32_t bytes) {
      received.push_back(bytes);
      events.push_back("received " + std::to_string(bytes));
    };
    http.OnDataSent = [this](platform::TObject*, std::int32_t bytes) {
      sent.push_back(bytes);
      events.push_back("sent " + std::to_string(bytes));
    };
    http.OnTransferComplete = [this, &http](platform::TObject* sender) {
      events.push_back(sender == &http ? "complete" : "complete from elsewhere");
    };
    http.OnTransferError = [this, &http](platform::TObject* sender) {
      events.push_back(sender == &http ? "error" : "error from elsewhere");
    };
  }
  // Only the end-of-transfer events.
  std::vector<std::string> outcomes() const {
    std::vector<std::string> ends;
    for (const std::string& event : events)
      if (event == "complete" || event == "error") ends.push_back(event);
    return ends;
  }
  int count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
  }
};

// Records where it would connect and connects nowhere.
class unconnected_http : public T_HTTP {
 public:
  using T_HTTP::T_HTTP;
  std::vector<std::pair<std::uint16_t, std::uint32_t>> attempts;
  void OpenOutputSocket(std::int32_t& socket, std::uint16_t port, std::uint32_t address) override {
    attempts.emplace_back(port, address);
    CloseSocket(socket);
  }
};

void expect_idle(const T_HTTP& http) {
  EXPECT_EQ(http.State, st_idle);
  EXPECT_EQ(http.Socket, -1);
  EXPECT_EQ(http.Actions.Count(), 0);
}

const std::string ok_page = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>page</html>";

// A request as a row sets it up; in the URL and the expected bytes "{url}"
// stands for the scripted server's own "http://127.0.0.1:port".
struct request_row {
  const char* url;
  bool through_proxy;
  bool full_url;
  void (*more)(T_HTTP& http);  // further settings, or none
  const char* expected;
  const char* why;
};

void PrintTo(const request_row& row, std::ostream* out) { *out << row.why; }

std::string with_server(std::string text, const scripted_server& server) {
  for (std::size_t at; (at = text.find("{url}")) != std::string::npos;)
    text.replace(at, 5, server.url(""));
  return text;
}

class RequestBytes : public testing::TestWithParam<request_row> {};

TEST_P(RequestBytes, AreExactlyAsBuilt) {
  const request_row& row = GetParam();
  scripted_server server({scripted_answer::bytes(ok_page)});
  T_HTTP http(nullptr);
  http.URL = with_server(row.url, server);
  if (row.through_proxy) http.Proxy = server.address();
  if (!row.full_url) http.SendFullURL = false;  // true unless a row says otherwise
  if (row.more) row.more(http);
  http.Get();
  EXPECT_EQ(server.request(0), with_server(row.expected, server)) << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestBytes,
    testing::Values(
        request_row{"{url}/comics/quorvel/", false, true, [](T_HTTP& h) { h.NoCache = true; },
                    "GET {url}/comics/quorvel/ HTTP/1.0\r\nHost: 127.0.0.1\r\nPragma: no-cache\r\n"
                    "Accept: */*\r\n\r\n",
                    "the program's settings: the whole URL, the host without its port"},
        request_row{"http://comics.example/strip.gif", true, true, nullptr,
                    "GET http://comics.example/strip.gif HTTP/1.0\r\n"
                    "Host: comics.example\r\nAccept: */*\r\n\r\n",
                    "through a proxy: the URL's host, never the proxy's"},
        request_row{"{url}/a/b?day=1&x=%20", false, false, nullptr,
                    "GET /a/b?day=1&x=%20 HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n",
                    "SendFullURL false: the path with its query"},
        request_row{"{url}", false, false, nullptr,
                    "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n",
                    "SendFullURL false and no path: /"},
        request_row{"http://comics.example/a", true, false, nullptr,
                    "GET http://comics.example/a HTTP/1.0\r\nHost: comics.example\r\n"
                    "Accept: */*\r\n\r\n",
                    "a proxy gets the whole URL whatever SendFullURL says"},
        request_row{"{url}/", false, true,
                    [](T_HTTP& h) {
                      h.Accept = "image/gif";
                      h.Sender = "me@example.org";
                      h.Reference = "http://ref.example/";
                      h.Agent = "quorvel/1.0";
                      h.NoCache = true;
                      h.Authorization = "Basic dXNlcjpwdw==";
                      h.ProxyAuthorization = "Basic cHJveHk6cHc=";
                    },
                    "GET {url}/ HTTP/1.0\r\nHost: 127.0.0.1\r\nFrom: me@example.org\r\n"
                    "Referer: http://ref.example/\r\nUser-Agent: quorvel/1.0\r\n"
                    "Pragma: no-cache\r\nAccept: image/gif\r\n"
                    "Authorization: Basic dXNlcjpwdw==\r\n"
                    "Proxy-authorization: Basic cHJveHk6cHc=\r\n\r\n",
                    "every optional header, in its order"},
        request_row{"{url}/", false, true,
                    [](T_HTTP& h) {
                      platform::TStringList extra;
                      extra.Add("X-One: 1");
                      extra.Add("");
                      extra.Add("after the end");
                      h.SetAdditionalHeader(extra);
                    },
                    "GET {url}/ HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\nX-One: 1\r\n\r\n"
                    "after the end\r\n\r\n",
                    "additional lines go last; an empty one ends the header early"},
        request_row{"{url}/", false, true,
                    [](T_HTTP& h) {
                      h.ContentTypePost = "text/plain";
                      h.Stream.Write("left over", 9);
                    },
                    "GET {url}/ HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n",
                    "a GET never carries Content-Length or Content-Type"}));

using attempt = std::pair<std::uint16_t, std::uint32_t>;  // port and address

TEST(Target, DirectlyTheUrlsPortOr80ThroughAProxyItsPortOr8080) {
  unconnected_http http(nullptr);
  for (const char* url : {"http://127.0.0.1:4321/x", "http://127.0.0.1/x"}) {
    http.URL = url;
    http.Get();
  }
  http.URL = "http://comics.example/a";
  for (const char* proxy : {"127.0.0.1", "127.0.0.1:3128", "http://127.0.0.1:3129/"}) {
    http.Proxy = proxy;
    http.Get();
  }
  EXPECT_EQ(http.attempts, (std::vector<attempt>{{4321, loopback}, {80, loopback}, {8080, loopback},
                                                 {3128, loopback}, {3129, loopback}}));
}

// Design rule: a port beyond 16 bits raises the conversion error, never wraps.
TEST(Target, ProxyPortsThatAreNoNumberOrBeyondSixteenBitsAreRefused) {
  unconnected_http http(nullptr);
  http.URL = "http://comics.example/a";
  for (const char* port : {"web", "70000", "-1"}) {
    http.Proxy = std::string("127.0.0.1:") + port;
    try {
      http.Get();
      ADD_FAILURE() << port << ": no error";
    } catch (const platform::EConvertError& error) {
      EXPECT_EQ(error.message().rfind("'" + std::string(port) + "' is not a valid ", 0), 0u);
    }
    expect_idle(http);
  }
  EXPECT_TRUE(http.attempts.empty());
  http.Proxy = "127.0.0.1:65535";  // the largest port is fine
  http.Get();
  EXPECT_EQ(http.attempts, (std::vector<attempt>{{65535, loopback}}));
}

TEST(Target, EmptyUrlWithoutProxyCannotBeResolved) {
  unconnected_http http(nullptr);
  try {
    http.Get();
    FAIL() << "no exception";
  } catch (const E_TcpIpError& error) {
    EXPECT_EQ(error.message(), "Couldn't resolve hostname ");
  }
  EXPECT_TRUE(http.attempts.empty());
}

TEST(Response, OkWithBody) {
  scripted_server server({scripted_answer::bytes(ok_page)});
  T_HTTP http(nullptr);
  event_log log;
  log.attach(http, false);
  http.URL = server.url("/");
  http.Get();
  EXPECT_EQ(http.StatusCode, 200);
  EXPECT_EQ(http.StatusText, "OK");
  EXPECT_TRUE(http.StatusReceived);
  EXPECT_EQ(http.ContentType, "text/html");
  EXPECT_EQ(http.Stream.View(), "<html>page</html>");
  EXPECT_EQ(http.Stream.Position(), 0u);
  EXPECT_EQ(log.count("complete"), 1);
  EXPECT_EQ(log.count("error"), 0);
  expect_idle(http);
}

TEST(Response, MovedDirectlyRecordsTheNewTargetAndAsksNoMore) {
  scripted_server server({scripted_answer::http(
      "HTTP/1.0 301 Moved", {"Location: http://elsewhere.example:81/new/place"}, "moved")});
  T_HTTP http(nullptr);
  event_log log;
  log.attach(http, false);
  http.URL = server.url("/old");
  http.Get();
  EXPECT_TRUE(http.Redirected);
  EXPECT_EQ(http.Host, "elsewhere.example");
  EXPECT_EQ(http.Port, 81);
  EXPECT_EQ(http.RequestTarget, "/new/place");
  EXPECT_EQ(log.outcomes(), std::vector<std::string>{"error"});
  EXPECT_EQ(server.connections(), 1u);
}

TEST(Response, MovedThroughAProxyKeepsTheValueAndTheProxy) {
  scripted_server server({scripted_answer::http(
      "HTTP/1.0 302 Found", {"Location: http://site.example/b"}, "")});
  T_HTTP http(nullptr);
  http.Proxy = server.address();
  http.URL = "http://site.example/a";
  http.Get();
  EXPECT_TRUE(http.Redirected);
  EXPECT_EQ(http.RequestTarget, "http://site.example/b");
  EXPECT_EQ(http.Host, "127.0.0.1");
  EXPECT_EQ(http.Port, server.port());
  EXPECT_EQ(server.connections(), 1u);
}

TEST(Response, HeaderLinesAreRecordedVerbatimAndResetPerResponse) {
  scripted_server server(
      {scripted_answer::http("HTTP/1.0 401 Unauthorized",
                             {"CONTENT-TYPE: text/html", "WWW-Authenticate: Basic realm=\"a\"",
                              "www-authenticate: Digest x", "X-Note: a\rb", "no colon here"},
                             ""),
       scripted_answer::http("HTTP/1.0 200 OK", {"Content-Type:text/html"}, "")});
  T_HTTP http(nullptr);
  http.URL = server.url("/");
  http.Get();
  EXPECT_EQ(http.ContentType, "text/html") << "the name in capitals is recognised";
  ASSERT_EQ(http.ReplyHeaders.Count(), 4);
  EXPECT_EQ(http.ReplyHeaders[0], "CONTENT-TYPE: text/html");
  EXPECT_EQ(http.ReplyHeaders[3], "X-Note: ab") << "a CR inside a line is dropped";
  ASSERT_EQ(http.AuthenticateList.Count(), 2);
  EXPECT_EQ(http.AuthenticateList[0], "Basic realm=\"a\"");
  EXPECT_EQ(http.AuthenticateList[1], "Digest x");

  http.Get();
  EXPECT_EQ(http.ContentType, "ext/html") << "one character after the colon is skipped";
  EXPECT_EQ(http.ReplyHeaders.Count(), 1);
  EXPECT_EQ(http.AuthenticateList.Count(), 0);
}

TEST(Response, UnsentBytesOfAFailedConnectionNeverReachTheNextOne) {
  refused_port refused;
  scripted_server server({scripted_answer::bytes(ok_page)});
  T_HTTP http(nullptr);
  http.URL = "http://127.0.0.1:" + std::to_string(refused.port()) + "/first";
  http.Get();
  EXPECT_FALSE(http.PendingText.empty()) << "the request line is still waiting";
  http.URL = server.url("/second");
  http.Get();
  EXPECT_EQ(server.request(0), "GET " + server.url("/second") +
                                   " HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n");
}

// Reading across the buffer's bounds is the TCP component's (tcp_test); here
// each chunk of the body is reported, none larger than the buffer, and they
// add up to the stream: in one-byte writes and in writes beyond the buffer.
TEST(Body, ChunksAddUpToTheStream) {
  const std::string small = testing_support::patterned_bytes(3000);
  const std::string large = testing_support::patterned_bytes(200000);
  scripted_server server({scripted_answer::http("HTTP/1.0 200 OK", {}, small).in_pieces(1),
                          scripted_answer::http("HTTP/1.0 200 OK", {}, large).in_pieces(40000)});
  T_HTTP http(nullptr);
  event_log log;
  log.attach(http, false);
  http.URL = server.url("/");
  for (const std::string* body : {&small, &large}) {
    log.received.clear();
    http.Get();
    EXPECT_EQ(http.Stream.View(), *body);
    EXPECT_EQ(std::accumulate(log.received.begin(), log.received.end(), std::int64_t{0}),
              static_cast<std::int64_t>(body->size()));
    for (std::int32_t chunk : log.received) {
      EXPECT_GT(chunk, 0);
      EXPECT_LE(chunk, buffer_size);
    }
  }
}

TEST(Events, OrderOfASynchronousGet) {
  const std::string header = "HTTP/1.0 200 OK\r\nX-A: b\r\n\r\n";
  scripted_server server({scripted_answer::bytes(header + "body!")});
  T_HTTP http(nullptr);
  event_log log;
  log.attach(http);
  http.URL = server.url("/p");
  http.Get();

  // The socket's handle is the one the connect traced.
  ASSERT_FALSE(log.events.empty());
  const std::string& opened = log.events[0];
  const std::string id = opened.substr(opened.rfind(' ') + 1);
  const std::string port = std::to_string(static_cast<std::int16_t>(server.port()));
  const std::string request_line = "GET " + server.url("/p") + " HTTP/1.0\r\n";
  const std::string block = "Host: 127.0.0.1\r\nAccept: */*\r\n\r\n";
  std::vector<std::string> expected = {
      "trace 2 Opened output socket " + port + " to host 127.0.0.1 successfully; ID " + id,
      "trace 2 Sent " + std::to_string(request_line.size()) + " bytes on socket ID " + id,
      "trace 2 Sent " + std::to_string(block.size()) + " bytes on socket ID " + id,
      "sent " + std::to_string(block.size()),
      "sent 0"};
  std::string line;
  for (char c : header) {
    expected.push_back("trace 2 Received 1 bytes on socket ID " + id);
    if (c == '\n') {
      if (!line.empty()) expected.push_back("trace 1 " + line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  expected.push_back("trace 2 Received 5 bytes on socket ID " + id);
  expected.push_back("received 5");
  expected.push_back("complete");
  expected.push_back("trace 2 Closed socket ID " + id);
  EXPECT_EQ(log.events, expected);
}

// A Get that raises leaves the component idle, and the next one works: after
// a status code that is no number, a Location port that is no number and a
// name that does not resolve.
TEST(Recovery, NextGetWorksAfterAGetThatRaised) {
  scripted_server server(
      {scripted_answer::http("HTTP/1.0 2x0 OK", {}, "broken"),
       scripted_answer::http("HTTP/1.0 301 Moved", {"Location: http://h:port/x"}, ""),
       scripted_answer::bytes(ok_page)});
  T_HTTP http(nullptr);
  event_log log;
  log.attach(http, false);
  http.URL = server.url("/");
  EXPECT_THROW(http.Get(), platform::EConvertError);
  expect_idle(http);
  EXPECT_THROW(http.Get(), platform::EConvertError);
  expect_idle(http);
  http.URL = "http://no..such.host/";
  EXPECT_THROW(http.Get(), E_TcpIpError);
  expect_idle(http);
  http.URL = server.url("/");
  http.Get();
  EXPECT_EQ(http.StatusCode, 200);
  EXPECT_EQ(http.Stream.View(), "<html>page</html>");
  EXPECT_EQ(log.outcomes(), std::vector<std::string>{"complete"});
  EXPECT_EQ(server.connections(), 3u);
}

// The response cut off after every byte: no hang, no exception, and what was
// complete before the cut is recorded.
TEST(Response, CutAtEveryByte) {
  const std::string response = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nHello";
  const std::size_t status_end = response.find('\n') + 1;
  const std::size_t type_end = response.find('\n', status_end) + 1;
  const std::size_t header_end = response.find("\r\n\r\n") + 4;
  std::vector<scripted_answer> answers;
  for (std::size_t cut = 0; cut <= response.size(); ++cut)
    answers.push_back(scripted_answer::bytes(response).cut_after(cut));
  scripted_server server(answers);
  T_HTTP http(nullptr);
  http.URL = server.url("/");
  for (std::size_t cut = 0; cut <= response.size(); ++cut) {
    SCOPED_TRACE("cut after " + std::to_string(cut));
    ASSERT_NO_THROW(http.Get());
    EXPECT_EQ(http.StatusReceived, cut >= status_end);
    EXPECT_EQ(http.ContentType, cut >= type_end ? "text/plain" : "");
    EXPECT_EQ(http.Stream.View(),
              cut >= header_end ? response.substr(header_end, cut - header_end) : "");
    expect_idle(http);
  }
}

// The same response in pieces of every small size gives the same result.
TEST(Response, SplitAtAnyBoundary) {
  const std::string response =
      "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 6\r\n\r\nGIF89a";
  std::vector<scripted_answer> answers;
  for (std::size_t piece = 1; piece <= 9; ++piece)
    answers.push_back(scripted_answer::bytes(response).in_pieces(piece));
  scripted_server server(answers);
  T_HTTP http(nullptr);
  http.URL = server.url("/");
  for (std::size_t piece = 1; piece <= 9; ++piece) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    http.Get();
    EXPECT_EQ(http.StatusCode, 200);
    EXPECT_EQ(http.ContentType, "image/gif");
    EXPECT_EQ(http.ContentLength, 6);
    EXPECT_EQ(http.Stream.View(), "GIF89a");
  }
}

struct header_row {
  const char* line;
  std::int32_t status;  // -1: the conversion error
  const char* status_text;
  const char* content_type;
  std::int32_t content_length;
  int reply_headers;
  const char* why;
};

void PrintTo(const header_row& row, std::ostream* out) { *out << '"' << row.line << '"'; }

class HeaderLine : public testing::TestWithParam<header_row> {};

TEST_P(HeaderLine, IsParsed) {
  const header_row& row = GetParam();
  T_HTTP http(nullptr);
  if (row.status == -1) {
    EXPECT_THROW(http.ParseHeaderLine(row.line), platform::EConvertError) << row.why;
    return;
  }
  http.ParseHeaderLine(row.line);
  EXPECT_EQ(http.StatusCode, row.status) << row.why;
  EXPECT_EQ(http.StatusText, row.status_text) << row.why;
  EXPECT_EQ(http.ContentType, row.content_type) << row.why;
  EXPECT_EQ(http.ContentLength, row.content_length) << row.why;
  EXPECT_EQ(http.ReplyHeaders.Count(), row.reply_headers) << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeaderLine,
    testing::Values(
        header_row{"HTTP/1.0 404 Not Found", 404, "Not Found", "", 0, 0, "status line"},
        header_row{"HTTP/1.1 200 OK", 200, "OK", "", 0, 0, "HTTP/1.1 too"},
        header_row{"HTTP/1.0 200", 200, "", "", 0, 0, "no text"},
        header_row{"HTTP/1.0 200 OK: yes", 200, "OK: yes", "", 0, 0, "a colon in the text"},
        header_row{"HTTP/2 200 OK", 0, "", "", 0, 0, "another version has no colon: ignored"},
        header_row{"http/1.0 200 OK", 0, "", "", 0, 0, "the version's case counts"},
        header_row{"HTTP/1.0 2x0 OK", -1, "", "", 0, 0, "a code that is no number"},
        header_row{"HTTP/1.0", -1, "", "", 0, 0, "no code at all"},
        header_row{"Content-Type: text/html", 0, "", "text/html", 0, 1, "content type"},
        header_row{"Content-Type:text/html", 0, "", "ext/html", 0, 1, "one character skipped"},
        header_row{"Content-Type:", 0, "", "", 0, 1, "nothing after the colon"},
        header_row{"Content-Type : x", 0, "", "", 0, 1, "the name is not trimmed"},
        header_row{"Content-Length: 1234", 0, "", "", 1234, 1, "length"},
        header_row{"Content-Length: ten", -1, "", "", 0, 0, "a length that is no number"},
        header_row{"X-Anything: 1", 0, "", "", 0, 1, "any other name is only recorded"},
        header_row{"", 0, "", "", 0, 0, "the empty line"}));

}  // namespace
