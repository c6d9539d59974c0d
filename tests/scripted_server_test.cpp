// The scripted test server itself: it stops while its clients still hold
// their connections, whatever its answer was doing then, so that a suite
// never hangs in its last line.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/scripted_server.hpp"
#include "tests/support/sockets.hpp"

namespace {

using namespace std::chrono_literals;
using testing_support::scripted_answer;
using testing_support::scripted_server;
using ending = scripted_answer::ending;

struct held_row {
  scripted_answer answer;
  const char* why;
};

class StopWithAHeldConnection : public testing::TestWithParam<held_row> {};

TEST_P(StopWithAHeldConnection, EndsTheConnectionAndReturns) {
  scripted_server server({GetParam().answer});
  const platform::TSocket s = platform::socket(platform::WS_AF_INET, platform::WS_SOCK_STREAM, 0);
  const platform::TSockAddrIn record = testing_support::loopback_record(server.port());
  ASSERT_EQ(platform::connect(s, &record, sizeof record), 0);
  ASSERT_EQ(platform::send(s, "GET / HTTP/1.0\r\n\r\n", 18, 0), 18);
  ASSERT_TRUE(server.wait_for_connections(1));
  EXPECT_FALSE(server.wait_for_end(0, 200)) << "the client holds the connection";

  server.stop();  // the client neither reads nor closes: the server must end the connection
  EXPECT_TRUE(server.wait_for_end(0, 0)) << GetParam().why;
  EXPECT_EQ(server.request(0, 0), "GET / HTTP/1.0\r\n\r\n") << GetParam().why;
  platform::closesocket(s);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, StopWithAHeldConnection,
    testing::Values(held_row{scripted_answer::silent(), "waiting for the client in a receive"},
                    held_row{scripted_answer::http("HTTP/1.0 200 OK", {}, "body"),
                             "waiting for the client's close after the answer"},
                    held_row{scripted_answer::http("HTTP/1.0 200 OK", {}, "start")
                                 .then(ending::endless),
                             "a send that waits for room the client never makes"},
                    held_row{scripted_answer::http("HTTP/1.0 200 OK", {}, "a").in_pieces(1).paced(
                                 10s),
                             "a pause between writes"}));

}  // namespace
