// The TCP component: reading a whole response, listening sockets, services.
#include "tcpip/tcp.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scripted_server.hpp"
#include "tests/support/trace_log.hpp"
// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"

namespace {

using namespace tcpip;
using testing_support::refused_port;
using testing_support::scripted_answer;
using testing_support::scripted_server;
using testing_support::trace_log;

using testing_support::loopback;

struct get_row {
  std::size_t size;
  std::size_t piece;  // 0: one write
  const char* why;
};

void PrintTo(const get_row& row, std::ostream* out) { *out << row.why; }

class Get : public testing::TestWithParam<get_row> {};

TEST_P(Get, ReadsEverythingUntilTheServerCloses) {
  const get_row& row = GetParam();
  const std::string data = testing_support::patterned_bytes(row.size);
  scripted_answer answer = scripted_answer::bytes(data).unprompted();
  if (row.piece) answer.in_pieces(row.piece);
  scripted_server server({answer});
  T_TcpIp component(nullptr);
  component.Host = "127.0.0.1";
  component.Port = server.port();
  component.Get();
  EXPECT_EQ(component.Stream.Position(), 0u);
  EXPECT_EQ(component.Stream.View(), data) << row.why;
  EXPECT_NE(component.Socket, -1) << "Get leaves the socket open";
  // Every send goes out at once: Nagle's algorithm is off.
  int nodelay = 0;
  int length = sizeof nodelay;
  ASSERT_EQ(platform::getsockopt(component.Socket, platform::WS_IPPROTO_TCP,
                                 platform::WS_TCP_NODELAY, reinterpret_cast<char*>(&nodelay),
                                 &length), 0);
  EXPECT_NE(nodelay, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Get,
    testing::Values(get_row{0, 0, "a server that closes at once"},
                    get_row{13, 0, "some bytes"},
                    get_row{32512, 0, "exactly one buffer"},
                    get_row{100000, 0, "more than three buffers"},
                    get_row{5000, 7, "many small writes"}));

// A refused connection, too, ends with an empty stream.
TEST(GetAgain, ASecondGetClosesTheFirstSocketAndReadsAnew) {
  scripted_server server({scripted_answer::bytes("first").unprompted(),
                          scripted_answer::bytes("second").unprompted()});
  refused_port refused;
  T_TcpIp component(nullptr);
  component.Host = "127.0.0.1";
  component.Port = server.port();
  component.Get();
  EXPECT_EQ(component.Stream.View(), "first");
  component.Get();
  EXPECT_EQ(component.Stream.View(), "second");
  component.Port = refused.port();
  component.Get();
  EXPECT_EQ(component.Socket, -1);
  EXPECT_EQ(component.Stream.Size(), 0u);
}

TEST(OpenInputSocket, TracesBindAndListenOrAFailedBindAndTheClose) {
  trace_log log;
  T_TcpIp component(nullptr);
  component.OnTrace = log.proc();
  std::int32_t listening = -1;
  component.OpenInputSocket(listening, 0, loopback);
  ASSERT_NE(listening, -1);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                            "Bound to socket 0 for local ip 127.0.0.1",
                            "Set input socket 0 to listening mode sucessfully; ID " +
                                std::to_string(listening)}));
  component.CloseSocket(listening);

  refused_port taken;  // its port is bound already; a port above 32767 is traced negative
  log.lines.clear();
  component.OpenInputSocket(listening, taken.port(), loopback);
  EXPECT_EQ(listening, -1);
  const std::vector<std::string> lines = log.texts();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Failed to bind socket " +
                          std::to_string(static_cast<std::int16_t>(taken.port())) +
                          " for local ip 127.0.0.1");
  EXPECT_EQ(lines[1].rfind("Closed socket ID ", 0), 0u);
}

TEST(ServicePort, KnownAndUnknownServices) {
  T_TcpIp component(nullptr);
  EXPECT_EQ(component.ServicePort("http"), 80);
  EXPECT_EQ(component.ServicePort("no-such-service"), 0);
}

}  // namespace
