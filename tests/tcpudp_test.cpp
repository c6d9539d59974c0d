// The socket component base: construction and destruction, the queue, the
// window procedure, resolution, connect, send, receive and their traces.
#include "tcpip/tcpudp.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/sockets.hpp"
#include "platform/test_hooks.hpp"
#include "tcpip/tcp.hpp"
#include "tcpip/tcpip.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/sockets.hpp"
#include "tests/support/stepped_time.hpp"
#include "tests/support/trace_log.hpp"

namespace {

using namespace tcpip;
using testing_support::refused_port;
using testing_support::scripted_answer;
using testing_support::scripted_server;
using testing_support::trace_log;

using testing_support::loopback;

// A TCP component that records its queued socket operations and acts on the
// queue step message, as every asynchronous descendant must.
class recording_tcp : public T_TcpIp {
 public:
  using T_TcpIp::T_TcpIp;
  std::vector<std::string> calls;
  std::vector<std::uint32_t> messages;

  void Resolve() override {
    calls.push_back("resolve");
    T_TcpIp::Resolve();
  }
  void Connect() override {
    calls.push_back("connect");
    T_TcpIp::Connect();
  }
  void Disconnect() override {
    calls.push_back("disconnect");
    T_TcpIp::Disconnect();
  }
  void WndProc(platform::TMessage& message) override {
    messages.push_back(message.Msg);
    if (message.Msg == uwm_socketevent && platform::LParamLo(message) == ev_next_action) {
      ProcessNext();
      return;
    }
    T_TcpIp::WndProc(message);
  }
};

// An operation that notes whether it ran and when it was freed.
class noting_operation : public tl_tcpip {
 public:
  noting_operation(std::vector<std::string>* log, std::string name)
      : log_(log), name_(std::move(name)) {}
  ~noting_operation() override { log_->push_back("freed " + name_); }
  void Execute() override { log_->push_back("ran " + name_); }

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

void connect_to(T_tcpudp& component, const scripted_server& server) {
  component.Host = "127.0.0.1";
  component.Port = server.port();
  component.OpenConnection();
  ASSERT_NE(component.Socket, -1);
}

TEST(AddressToText, WritesTheBytesMostSignificantFirst) {
  EXPECT_EQ(AddressToText(platform::htonl(0xC0A80001u)), "192.168.0.1");
  EXPECT_EQ(AddressToText(loopback), "127.0.0.1");
  EXPECT_EQ(AddressToText(0), "0.0.0.0");
}

TEST(ResolveHost, DottedNamesAndFailures) {
  EXPECT_EQ(ResolveHost("127.0.0.1"), loopback);
  EXPECT_EQ(ResolveHost(""), no_address);
  EXPECT_EQ(ResolveHost("no..such.host"), no_address);
  EXPECT_EQ(ResolveHost("255.255.255.255"), no_address) << "the broadcast address means none";
  EXPECT_EQ(platform::ntohl(ResolveHost("localhost")) >> 24, 127u);
}

TEST(Resolve, UnresolvableAndEmptyHostsRaiseAndStayResolving) {
  for (const std::string host : {"no..such.host", ""}) {
    T_TcpIp component(nullptr);
    component.Host = host;
    try {
      component.OpenConnection();
      FAIL() << "no exception for '" << host << "'";
    } catch (const E_TcpIpError& error) {
      EXPECT_EQ(error.message(), "Couldn't resolve hostname " + host);
    }
    EXPECT_EQ(component.State, st_resolving);
    EXPECT_EQ(component.Actions.Count(), 0) << "the connect was never queued";
    EXPECT_EQ(component.Socket, -1);
  }
}

// A port above 32767 is traced negative, as a 16-bit value.
TEST(Connect, RefusedConnectTracesCloseThenFailureAndRaisesNothing) {
  refused_port refused;
  trace_log log;
  T_TcpIp component(nullptr);
  component.OnTrace = log.proc();
  component.Host = "127.0.0.1";
  component.Port = refused.port();
  component.OpenConnection();
  EXPECT_EQ(component.Socket, -1);
  EXPECT_EQ(component.State, st_ready);
  EXPECT_EQ(component.Actions.Count(), 0);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].first.rfind("Closed socket ID ", 0), 0u);
  EXPECT_EQ(log.lines[1].first, "Failed to open output socket " +
                                    std::to_string(static_cast<std::int16_t>(refused.port())) +
                                    " to host 127.0.0.1");
  EXPECT_EQ(log.lines[1].second, tt_socket);
  std::int32_t no_socket = -1;
  component.ConnectSocket(no_socket, 40000, loopback);
  EXPECT_EQ(log.texts().back(), "Failed to open output socket -25536 to host 127.0.0.1");
}

TEST(Connect, SuccessfulConnectAndCloseTraces) {
  scripted_server server({scripted_answer::silent().unprompted()});
  trace_log log;
  T_TcpIp component(nullptr);
  component.OnTrace = log.proc();
  connect_to(component, server);
  const std::string id = std::to_string(component.Socket);
  EXPECT_FALSE(component.Closed);
  component.Disconnect();
  EXPECT_EQ(component.Socket, -1);
  EXPECT_EQ(component.State, st_idle);
  const std::string port = std::to_string(static_cast<std::int16_t>(server.port()));
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "Opened output socket " + port + " to host 127.0.0.1 successfully; ID " + id,
                             "Closed socket ID " + id}));
  std::int32_t none = -1;
  component.CloseSocket(none);
  EXPECT_EQ(log.lines.size(), 2u) << "closing no socket traces nothing";
}

TEST(SendAndReceive, TraceLinesAndCommandLevel) {
  scripted_server server({scripted_answer::bytes("OK\r\n")});
  trace_log log;
  T_TcpIp component(nullptr);
  connect_to(component, server);
  component.OnTrace = log.proc();
  const std::string id = std::to_string(component.Socket);
  EXPECT_TRUE(component.SendCommand("HELLO"));
  EXPECT_TRUE(component.SendCommand(""));
  std::string line;
  component.ReadLine(component.Socket, line);
  EXPECT_EQ(line, "OK");
  const std::vector<std::pair<std::string, TTraceLevel>> expected = {
      {"Sent 7 bytes on socket ID " + id, tt_socket},
      {"HELLO", tt_command},
      {"Sent 2 bytes on socket ID " + id, tt_socket},
      {"", tt_command},
      {"Received 1 bytes on socket ID " + id, tt_socket},
      {"Received 1 bytes on socket ID " + id, tt_socket},
      {"Received 1 bytes on socket ID " + id, tt_socket},
      {"Received 1 bytes on socket ID " + id, tt_socket}};
  EXPECT_EQ(log.lines, expected);
  component.Disconnect();
  EXPECT_EQ(server.request(0), "HELLO\r\n\r\n");
}

// Stands in for the send call: hands over at most `limit` bytes per call.
class short_sends {
 public:
  explicit short_sends(std::vector<int> limits) : limits_(std::move(limits)) {
    old_ = platform::test_hooks::replace_send([this](platform::TSocket, const char* buf, int len, int) {
      const int limit = calls < limits_.size() ? limits_[calls] : len;
      ++calls;
      if (limit < 0) {
        platform::WSASetLastError(platform::WSAEWOULDBLOCK);
        return -1;
      }
      const int count = std::min(limit, len);
      sent.append(buf, static_cast<std::size_t>(count));
      return count;
    });
  }
  ~short_sends() { platform::test_hooks::replace_send(old_); }
  std::string sent;
  std::size_t calls = 0;

 private:
  std::vector<int> limits_;
  platform::test_hooks::send_function old_;
};

TEST(SendAndReceive, AFailedSendIsNotTraced) {
  trace_log log;
  T_TcpIp component(nullptr);
  component.OnTrace = log.proc();
  short_sends failing({-1});
  EXPECT_EQ(component.SendBuf(7, "abc", 3), -1);
  EXPECT_TRUE(log.lines.empty());
}

TEST(SendAndReceive, AReceiveWithoutABufferTakesAsManyBytesAsAsked) {
  const std::string data = testing_support::patterned_bytes(6000);
  scripted_server server({scripted_answer::bytes(data).unprompted()});
  T_TcpIp component(nullptr);
  connect_to(component, server);
  std::int32_t total = 0;
  std::int32_t length = 0;
  do {
    component.ReceiveBuf(component.Socket, nullptr, length, 6000);
    if (length > 0) total += length;
  } while (length > 0);
  EXPECT_EQ(total, 6000);
  EXPECT_TRUE(component.Closed);
}

TEST(SocketLibrary, StartedWithTheUnits) { EXPECT_TRUE(SocketsStarted); }

struct read_line_row {
  std::string bytes;
  std::vector<std::string> lines;  // successive ReadLine results
  const char* why;
};

void PrintTo(const read_line_row& row, std::ostream* out) { *out << row.why; }

class ReadLine : public testing::TestWithParam<read_line_row> {};

TEST_P(ReadLine, ReadsOneLine) {
  const read_line_row& row = GetParam();
  scripted_server server({scripted_answer::bytes(row.bytes).unprompted()});
  T_TcpIp component(nullptr);
  connect_to(component, server);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < row.lines.size(); ++i) {
    std::string line = "stale";
    component.ReadLine(component.Socket, line);
    lines.push_back(line);
  }
  EXPECT_EQ(lines, row.lines) << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ReadLine,
    testing::Values(read_line_row{"abc\r\n", {"abc"}, "CR LF ends the line, both dropped"},
                    read_line_row{"a\rb\n", {"ab"}, "a CR inside the line is dropped"},
                    read_line_row{"abc", {""}, "a line cut off by the end is lost"},
                    read_line_row{"\r\n", {""}, "an empty line"},
                    read_line_row{"one\ntwo\n", {"one", "two"}, "no byte of the next line is taken"},
                    read_line_row{"", {""}, "nothing before the end"}));

TEST(SocketState, NoneUnconnectedConnectedAndEof) {
  scripted_server server({scripted_answer::bytes("x").unprompted()});
  T_TcpIp component(nullptr);
  EXPECT_EQ(component.SocketState(-1), 0);
  EXPECT_TRUE(component.Eof(-1));
  const std::int32_t fresh = component.CreateSocket();
  EXPECT_EQ(component.SocketState(fresh), 1);
  EXPECT_TRUE(component.Eof(fresh));
  platform::closesocket(fresh);

  connect_to(component, server);
  EXPECT_EQ(component.SocketState(component.Socket), 2);
  EXPECT_FALSE(component.Eof(component.Socket));
  std::int32_t length = 0;
  component.ReceiveBuf(component.Socket, nullptr, length, 16);
  EXPECT_EQ(length, 1);
  EXPECT_FALSE(component.Eof(component.Socket));
  component.ReceiveBuf(component.Socket, nullptr, length, 16);
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(component.Closed);
  EXPECT_EQ(component.SocketState(component.Socket), 2) << "still connected as far as the socket knows";
  EXPECT_TRUE(component.Eof(component.Socket)) << "but the end has been found";
}

// Design rule: SendBuf keeps new bytes behind an unsent remainder, in order,
// and sends the remainder first once it can go.
TEST(SendString, ShortSendsLeaveTheRestToGoFirstInOrder) {
  T_TcpIp component(nullptr);
  short_sends double_of_send({4, -1});
  EXPECT_FALSE(component.SendString(7, "0123456789"));
  EXPECT_EQ(component.PendingText, "456789");
  EXPECT_FALSE(component.SendString(7, "AB"));
  EXPECT_EQ(component.PendingText, "456789AB") << "nothing lost, nothing reordered";
  EXPECT_EQ(double_of_send.calls, 2u) << "AB was not offered while 456789 waited";
  EXPECT_EQ(component.SendBuf(7, "C", 1), 1);
  EXPECT_EQ(double_of_send.sent, "0123456789ABC");
  EXPECT_EQ(component.PendingText, "");
  EXPECT_TRUE(component.SendString(7, ""));
}

TEST(Queue, ProcessNextRunsOnlyWhenIdleOrReady) {
  std::vector<std::string> log;
  T_TcpIp component(nullptr);
  component.Actions.Add(new noting_operation(&log, "a"));
  component.State = st_resolving;
  component.ProcessNext();
  EXPECT_TRUE(log.empty());
  component.State = st_ready;
  component.ProcessNext();
  EXPECT_EQ(log, (std::vector<std::string>{"ran a", "freed a"}));
  component.ProcessNext();
  EXPECT_EQ(log.size(), 2u) << "an empty queue does nothing";
}

TEST(Queue, CloseConnectionInSynchronousModeClosesAtOnce) {
  scripted_server server({scripted_answer::silent().unprompted()});
  recording_tcp component(nullptr);
  connect_to(component, server);
  component.CloseConnection();
  EXPECT_EQ(component.calls, (std::vector<std::string>{"resolve", "connect", "disconnect"}));
  EXPECT_EQ(component.Socket, -1);
  EXPECT_EQ(component.State, st_idle);
  EXPECT_EQ(component.Actions.Count(), 0);
  EXPECT_TRUE(server.wait_for_end(0)) << "the server saw the connection end";
}

TEST(Queue, ASocketOperationOfAnUnknownKindDoesNothing) {
  for (const std::uint8_t kind : {2, 4, 255}) {
    recording_tcp component(nullptr);
    component.Host = "no..such.host";  // a resolve would raise
    EXPECT_NO_THROW(component.QueueOperation(new tl_socket(&component, kind))) << int(kind);
    EXPECT_TRUE(component.calls.empty()) << int(kind);
    EXPECT_EQ(component.State, st_idle) << int(kind);
    EXPECT_EQ(component.Actions.Count(), 0) << "run and freed";
  }
}

// Records every message its window gets, then lets the base handle it.
class message_log_tcp : public T_TcpIp {
 public:
  using T_TcpIp::T_TcpIp;
  std::vector<platform::TMessage> got;
  void WndProc(platform::TMessage& message) override {
    got.push_back(message);
    T_TcpIp::WndProc(message);
  }
};

TEST(Queue, TheAsynchronousQueueStepIsAPostedNextActionEvent) {
  std::vector<std::string> log;
  message_log_tcp component(nullptr);
  component.Async = true;
  component.QueueOperation(new noting_operation(&log, "a"));
  EXPECT_TRUE(log.empty()) << "posted, not run";
  EXPECT_EQ(platform::ProcessMessages(), 1);
  ASSERT_EQ(component.got.size(), 1u);
  EXPECT_EQ(component.got[0].Msg, uwm_socketevent);
  EXPECT_EQ(component.got[0].WParam, 0);
  EXPECT_EQ(platform::LParamLo(component.got[0]), ev_next_action);
  EXPECT_EQ(platform::LParamHi(component.got[0]), 0);
  EXPECT_TRUE(log.empty()) << "the base acts on no 1281 message";
  EXPECT_EQ(component.Actions.Count(), 1);
}

TEST(Destruction, QueuedOperationsAreFreedWithoutRunningAndTheSocketClosedUntraced) {
  scripted_server server({scripted_answer::silent().unprompted()});
  std::vector<std::string> log;
  trace_log traces;
  {
    recording_tcp component(nullptr);
    connect_to(component, server);
    component.OnTrace = traces.proc();
    component.calls.clear();
    component.State = st_resolving;  // nothing may run
    component.OpenConnection();
    component.QueueOperation(new noting_operation(&log, "a"));
    component.QueueOperation(new noting_operation(&log, "b"));
    EXPECT_EQ(component.Actions.Count(), 4);
    EXPECT_TRUE(component.calls.empty());
  }
  EXPECT_EQ(log, (std::vector<std::string>{"freed a", "freed b"}));
  EXPECT_TRUE(traces.lines.empty());
  EXPECT_TRUE(server.wait_for_end(0)) << "the server saw the connection end";
}

class link_recorder : public T_Net_Component {
 public:
  using T_Net_Component::T_Net_Component;
  std::vector<T_Net_Component*> gone;
  void LinkDestroyed(T_Net_Component* Sender) override { gone.push_back(Sender); }
};

TEST(Destruction, TheOwnerHoldsTheComponentAndLinksHearOfItsEnd) {
  platform::TComponent owner(nullptr);
  link_recorder first(nullptr), second(nullptr);
  T_Net_Component* component = new T_TcpIp(&owner);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), component);
  component->Links.Add(&first);
  component->Links.Add(nullptr);
  component->Links.Add(&second);
  delete component;
  EXPECT_EQ(first.gone, std::vector<T_Net_Component*>{component});
  EXPECT_EQ(second.gone, std::vector<T_Net_Component*>{component});
}

TEST(WndProc, QueryEndSessionAnswersOneAndOtherMessagesAreLeftAlone) {
  T_TcpIp component(nullptr);
  EXPECT_EQ(platform::SendMessageA(component.Window, 17, 0, 0), 1);
  EXPECT_EQ(platform::SendMessageA(component.Window, 1281, 0, platform::MakeLParam(ev_next_action, 0)), 0);
  EXPECT_EQ(platform::SendMessageA(component.Window, 1234, 5, 6), 0);
}

TEST(WndProc, HostResolvedWithNoLookupPendingChangesNothing) {
  T_TcpIp component(nullptr);
  component.State = st_resolving;
  component.Actions.Add(new tl_socket(&component, sa_connect));
  platform::SendMessageA(component.Window, uwm_hostresolved, 0, 0);
  EXPECT_EQ(component.State, st_resolving);
  EXPECT_EQ(component.Address, no_address);
  EXPECT_EQ(component.Actions.Count(), 1);
}

// An asynchronous component, aimed by aim() at a server that never answers.
class Async : public testing::Test {
 protected:
  void aim(const char* host) {
    component_.Async = true;
    component_.Host = host;
    component_.Port = server_.port();
  }
  scripted_server server_{std::vector{scripted_answer::silent().unprompted()}};
  recording_tcp component_{nullptr};
};

TEST(ResolveHostAsync, DottedAddressPostsHostResolvedAtOnce) {
  std::vector<platform::TMessage> got;
  const platform::HWND window =
      platform::AllocateHWnd([&](platform::TMessage& m) { got.push_back(m); });
  const std::shared_ptr<char[]> buffer = ResolveHostAsync("127.0.0.1", window, uwm_hostresolved);
  ASSERT_NE(buffer, nullptr);
  // Already queued: one pass of the loop delivers it without waiting.
  EXPECT_EQ(platform::ProcessMessages(), 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Msg, uwm_hostresolved);
  EXPECT_EQ(got[0].WParam, 0);
  EXPECT_EQ(got[0].LParam, 0);
  EXPECT_EQ(ResolveHostAsync("", window, uwm_hostresolved), nullptr);
  EXPECT_EQ(platform::ProcessMessages(), 0) << "an empty name posts nothing";
  platform::DeallocateHWnd(window);
}

TEST_F(Async, GetReturnsAtOnceAndPostedQueueStepsRunTheOperationsInOrder) {
  aim("127.0.0.1");
  component_.Get();
  EXPECT_EQ(component_.Socket, -1);
  EXPECT_EQ(component_.Stream.Size(), 0u);
  EXPECT_EQ(component_.Actions.Count(), 2);
  EXPECT_TRUE(component_.calls.empty()) << "nothing runs before the loop delivers";

  ASSERT_TRUE(platform::RunMessageLoop([&] { return component_.calls.size() == 2; }, 10000));
  EXPECT_EQ(component_.calls, (std::vector<std::string>{"resolve", "connect"}));
  EXPECT_EQ(component_.State, st_ready);
  EXPECT_EQ(component_.Address, loopback);
  EXPECT_NE(component_.Socket, -1);
  EXPECT_EQ(component_.LookupBuffer, nullptr);
  // Two queue steps, the lookup's message (the second step is spent while
  // resolving), then the step that the lookup's end posts.
  const std::vector<std::uint32_t> first_four(component_.messages.begin(),
                                              component_.messages.begin() + 4);
  EXPECT_EQ(first_four, (std::vector<std::uint32_t>{1281, 1281, 1280, 1281}));
  ASSERT_TRUE(server_.wait_for_connections(1));
}

TEST_F(Async, LookupOfANameRunsInTheBackground) {
  aim("localhost");
  component_.OpenConnection();
  platform::ProcessMessages();
  EXPECT_EQ(component_.calls, std::vector<std::string>{"resolve"});
  EXPECT_NE(component_.LookupBuffer, nullptr) << "the lookup is under way";
  ASSERT_TRUE(platform::RunMessageLoop([&] { return component_.calls.size() == 2; }, 10000));
  EXPECT_EQ(platform::ntohl(component_.Address) >> 24, 127u);
}

// Design rule: a registered socket does not block, so Get takes what is
// waiting and leaves the rest to the notifications instead of spinning.
TEST_F(Async, GetOnAConnectedSocketWithNothingWaitingReturns) {
  aim("127.0.0.1");
  component_.OpenConnection();
  ASSERT_TRUE(platform::RunMessageLoop(
      [&] {
        return component_.calls.size() == 2 && component_.SocketState(component_.Socket) == 2;
      },
      10000));
  const std::int32_t connected = component_.Socket;
  component_.Stream.Write("old", 3);
  component_.Get();
  EXPECT_EQ(component_.Stream.Size(), 0u);
  EXPECT_EQ(component_.Socket, connected);
  EXPECT_FALSE(component_.Closed);
}

TEST(SyncLimit, SilentServerMakesAReceiveGiveUp) {
  scripted_server server({scripted_answer::silent().unprompted()});
  T_TcpIp component(nullptr);
  component.Host = "127.0.0.1";
  component.Port = server.port();
  const testing_support::stepped_time time;
  component.Get();
  EXPECT_TRUE(component.Closed);
  EXPECT_EQ(component.Stream.Size(), 0u);
}

}  // namespace
