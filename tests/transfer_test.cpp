// How a transfer of the HTTP client ends: in order, or failed - by a reset,
// silence, a trickle, an endless body, a cut-off header or body - with the
// outcome recorded before the end-of-transfer event and bounded waits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tcpip/http.hpp"
#include "platform/test_hooks.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/stepped_time.hpp"

// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"
#include "tests/support/sockets.hpp"

namespace {

using namespace std::chrono_literals;
using namespace tcpip;
using testing_support::refused_port;
using testing_support::scripted_answer;
using testing_support::scripted_server;
using testing_support::stepped_time;
using platform::test_hooks::time_outs;
using ending = scripted_answer::ending;

// Gets URLs with one component and records, for the last of them, the
// outcome the component held when its end-of-transfer event came and the
// sizes its sent events gave.
struct transfer {
  T_HTTP http{nullptr};
  std::vector<std::string> events;
  std::vector<std::int32_t> sent;

  transfer() {
    http.OnTransferComplete = [this](platform::TObject*) {
      events.push_back(http.TransferFailed() ? "complete, failed" : "complete");
    };
    http.OnTransferError = [this](platform::TObject*) {
      events.push_back(http.TransferFailed() ? "error, failed" : "error");
    };
    http.OnDataSent = [this](platform::TObject*, std::int32_t bytes) { sent.push_back(bytes); };
  }
  explicit transfer(const std::string& url) : transfer() { get(url); }

  void get(const std::string& url) {
    events.clear();
    sent.clear();
    http.URL = url;
    http.Get();
  }
};

const std::string body_of_10000 = testing_support::patterned_bytes(10000);

struct outcome_row {
  scripted_answer answer;
  THttpOutcome outcome;
  const char* event;   // the one end-of-transfer event, and whether it saw a failure
  std::size_t body;    // bytes left in Stream
  const char* why;
};

class Outcome : public testing::TestWithParam<outcome_row> {};

// The rows of silence wait out the 60 seconds on the stepped clock.
TEST_P(Outcome, IsRecordedBeforeTheEndOfTransfer) {
  stepped_time time;
  scripted_server server({GetParam().answer});
  transfer t(server.url("/x"));
  EXPECT_EQ(t.http.Outcome, GetParam().outcome) << GetParam().why;
  EXPECT_EQ(t.events, std::vector<std::string>{GetParam().event}) << GetParam().why;
  EXPECT_EQ(t.http.Stream.Size(), GetParam().body) << GetParam().why;
  EXPECT_EQ(t.http.State, st_idle) << GetParam().why;
  EXPECT_EQ(t.http.Socket, -1) << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Outcome,
    testing::Values(
        outcome_row{scripted_answer::http("HTTP/1.0 200 OK", {}, body_of_10000), ho_complete,
                    "complete", 10000, "an orderly close after the body"},
        outcome_row{scripted_answer::http("HTTP/1.0 200 OK", {"Content-Length: 10000"},
                                          body_of_10000),
                    ho_complete, "complete", 10000, "the announced length met"},
        outcome_row{scripted_answer::http("HTTP/1.0 200 OK", {"Content-Length: 10"},
                                          body_of_10000),
                    ho_complete, "complete", 10000, "more than announced is kept, as ever"},
        outcome_row{scripted_answer::http("HTTP/1.0 404 Not Found", {}, "<html>no</html>"),
                    ho_complete, "error", 15, "an error status ends in order"},
        outcome_row{scripted_answer::http("HTTP/1.0 200 OK", {}, body_of_10000)
                        .in_pieces(4096)
                        .cut_after(7000)
                        .then(ending::reset),
                    ho_failed, "error, failed", 7000 - 19, "a reset in the middle of the body"},
        outcome_row{scripted_answer::http("HTTP/1.0 200 OK", {}, body_of_10000)
                        .cut_after(5000)
                        .then(ending::silent),
                    ho_timed_out, "error, failed", 5000 - 19, "half the body, then silence"},
        outcome_row{scripted_answer::silent(), ho_timed_out, "error, failed", 0,
                    "a server that accepts and never answers"},
        outcome_row{scripted_answer::http("HTTP/1.0 200 OK", {"Content-Length: 20000"},
                                          body_of_10000),
                    ho_cut_short, "error, failed", 10000, "closed short of the announced length"},
        outcome_row{scripted_answer::bytes("HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n"),
                    ho_cut_short, "error, failed", 0, "closed inside the header"},
        outcome_row{scripted_answer::bytes("no status line\r\n\r\nbody"), ho_no_status,
                    "error, failed", 4, "bytes, but no status line"},
        outcome_row{scripted_answer::closing(), ho_no_status, "error, failed", 0,
                    "closed without a byte"},
        // 17 bytes of status line, "X: ", the filler, and two line ends.
        outcome_row{scripted_answer::bytes("HTTP/1.0 200 OK\r\nX: " + std::string(65512, 'f') +
                                           "\r\n\r\nbody"),
                    ho_complete, "complete", 4, "a header of 65,536 bytes is read whole"},
        outcome_row{scripted_answer::bytes("HTTP/1.0 200 OK\r\nX: " + std::string(65513, 'f') +
                                           "\r\n\r\nbody"),
                    ho_header_too_long, "error, failed", 0, "a header of 65,537 bytes fails"},
        outcome_row{scripted_answer::bytes("HTTP/1.0 200 OK\r\nX-Long: ", ending::endless),
                    ho_header_too_long, "error, failed", 0, "one header line without end"}));

// A refused connection raises nothing: the request cannot go, the body of
// the transfer before is gone, and the component is ready again.
TEST(Outcome, NoConnectionIsAFailureOfItsOwnKind) {
  refused_port refused;
  transfer t;
  t.http.Stream.Write("old", 3);
  t.get("http://127.0.0.1:" + std::to_string(refused.port()) + "/x");
  EXPECT_EQ(t.http.Outcome, ho_no_connection);
  EXPECT_EQ(t.events, std::vector<std::string>{"error, failed"});
  EXPECT_EQ(t.sent, std::vector<std::int32_t>{-1}) << "the header block could not go";
  EXPECT_EQ(t.http.Stream.Size(), 0u);
  EXPECT_EQ(t.http.State, st_idle);
  EXPECT_EQ(t.http.Socket, -1);
}

// A failure does not outlive its transfer, nor does the status of a whole
// answer make the next one, closed without a byte, whole.
TEST(Outcome, IsEachTransfersOwn) {
  stepped_time time;
  scripted_server server({scripted_answer::silent(),
                          scripted_answer::http("HTTP/1.0 200 OK", {}, "fine"),
                          scripted_answer::closing()});
  transfer t(server.url("/x"));
  EXPECT_EQ(t.http.Outcome, ho_timed_out);
  t.get(server.url("/x"));
  EXPECT_EQ(t.http.Outcome, ho_complete);
  EXPECT_EQ(t.http.Stream.View(), "fine");
  t.get(server.url("/x"));
  EXPECT_EQ(t.http.Outcome, ho_no_status);
  EXPECT_EQ(t.events, std::vector<std::string>{"error, failed"});
  EXPECT_FALSE(t.http.StatusReceived);
  EXPECT_EQ(t.http.StatusCode, 200) << "kept from the answer before";
  EXPECT_EQ(t.http.Stream.Size(), 0u);
}

TEST(Outcome, ARequestThatCouldNotGoOutFailsWhateverCameBack) {
  // A send that fails may be the call that learnt of a reset; the answer
  // read after it cannot be trusted.
  scripted_server server({scripted_answer::http("HTTP/1.0 200 OK", {}, "whole?").unprompted()});
  const auto real = platform::test_hooks::replace_send([](platform::TSocket, const char*, int, int) {
    platform::WSASetLastError(platform::WSAECONNRESET);
    return platform::SOCKET_ERROR;
  });
  transfer t(server.url("/x"));
  platform::test_hooks::replace_send(real);
  EXPECT_EQ(t.http.Stream.Size(), 0u);
  EXPECT_EQ(t.http.Outcome, ho_failed);
  EXPECT_EQ(t.events, std::vector<std::string>{"error, failed"});
}

TEST(TimeLimit, ASilentServerCostsOneWaitPerRequest) {
  stepped_time time;
  scripted_server server({scripted_answer::silent(),
                          scripted_answer::http("HTTP/1.0 200 OK", {}, body_of_10000)
                              .cut_after(5000)
                              .then(ending::silent),
                          scripted_answer::bytes("", ending::deaf).unprompted()});
  for (int request = 0; request < 3; ++request) {
    const auto waited = time.elapsed();
    const int before = time_outs();
    T_HTTP http(nullptr);
    http.URL = server.url("/x");
    if (request == 2) http.AdditionalHeader.Add(std::string(32u << 20, 'l'));
    http.Get();
    EXPECT_EQ(http.Outcome, ho_timed_out) << request;
    EXPECT_EQ(time_outs() - before, 1)
        << "once a receive gave up, the socket is not asked again (request " << request << ")";
    EXPECT_EQ(time.elapsed() - waited, 60s) << request;
  }
}

// The header and 2,000 bytes at once, then a byte every 1.2 seconds.
scripted_answer fast_start_then_trickle() {
  scripted_answer answer{true, std::vector<std::string>(101, "x"), ending::close, 1200ms};
  answer.writes[0] = "HTTP/1.0 200 OK\r\n\r\n" + std::string(2000, 'b');
  return answer;
}

struct pace_row {
  scripted_answer answer;
  THttpOutcome outcome;
  const char* why;
};

class Pace : public testing::TestWithParam<pace_row> {};

// No pause reaches the time limit of 60 seconds: only the bytes of the last
// 60 seconds decide.
TEST_P(Pace, DecidesByTheBytesOfAnyOneTimeLimit) {
  stepped_time time;
  scripted_server server({GetParam().answer});
  const int before = time_outs();
  transfer t(server.url("/x"));
  EXPECT_EQ(t.http.Outcome, GetParam().outcome) << GetParam().why;
  EXPECT_EQ(time_outs(), before) << "no single receive gave up: " << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, Pace,
    testing::Values(
        pace_row{scripted_answer::http("HTTP/1.0 200 OK", {}, body_of_10000).in_pieces(1).paced(1200ms),
                 ho_timed_out, "a byte every 1.2 s brings too few bytes"},
        pace_row{fast_start_then_trickle(), ho_timed_out, "a fast start does not pay for a trickle later"},
        pace_row{scripted_answer::http("HTTP/1.0 200 OK", {}, body_of_10000).in_pieces(2000).paced(18s),
                 ho_complete, "2,000 bytes every 18 s is no trickle"},
        pace_row{scripted_answer{true, {"HTTP/1.0 200 OK\r\n\r\nsmall", "er", ""}, ending::close, 36s},
                 ho_complete, "too few bytes, but an orderly close after one time limit"}));

TEST(BodyBound, AnEndlessBodyStopsAtTheBoundWithBoundedMemory) {
  scripted_server server({scripted_answer::http("HTTP/1.0 200 OK", {}, "start").then(
      ending::endless)});
  transfer t(server.url("/x"));
  EXPECT_EQ(t.http.Outcome, ho_too_large);
  EXPECT_EQ(t.events, std::vector<std::string>{"error, failed"});
  EXPECT_LE(t.http.Stream.Size(), max_body_size);
  EXPECT_GT(t.http.Stream.Size(), max_body_size - buffer_size);
  EXPECT_LE(t.http.Stream.Capacity(), max_body_size + max_body_size / 8);
}

TEST(BodyBound, ABodyOfExactlyTheBoundIsWhole) {
  const std::string body(max_body_size, 'b');
  scripted_server server({scripted_answer::http(
      "HTTP/1.0 200 OK", {"Content-Length: " + std::to_string(body.size())}, body)});
  transfer t(server.url("/x"));
  EXPECT_EQ(t.http.Outcome, ho_complete);
  EXPECT_EQ(t.http.Stream.Size(), max_body_size);
}

TEST(BodyBound, AnAnnouncedBodyIsGivenItsRoomBeforeItArrives) {
  const std::string body = testing_support::patterned_bytes(3 << 20);
  scripted_server server({scripted_answer::http(
      "HTTP/1.0 200 OK", {"Content-Length: " + std::to_string(body.size())}, body)});
  transfer t(server.url("/x"));
  EXPECT_EQ(t.http.Stream.View(), body);
  EXPECT_EQ(t.http.Stream.Capacity(), body.size()) << "reserved once, never grown";
}

TEST(BodyBound, AnAnnouncementBeyondTheBoundReservesNoMoreThanTheBound) {
  scripted_server server({scripted_answer::http("HTTP/1.0 200 OK", {"Content-Length: 2000000000"},
                                                "small")});
  transfer t(server.url("/x"));
  EXPECT_EQ(t.http.Outcome, ho_cut_short);
  EXPECT_LE(t.http.Stream.Capacity(), max_body_size);
}

}  // namespace
