// The socket library stand-in: error numbers, time limits, lookups and event
// registration, on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "platform/test_hooks.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/stepped_time.hpp"
// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"
#include "tests/support/sockets.hpp"

namespace {

using namespace platform;
using testing_support::scripted_answer;
using testing_support::scripted_server;
using testing_support::connected_socket;
using testing_support::loopback_record;
using testing_support::stepped_time;
using test_hooks::system_receives;

using testing_support::loopback;

TEST(Sockets, ByteOrder) {
  EXPECT_EQ(htons(0x1234), 0x3412);
  EXPECT_EQ(ntohl(0x0100007Fu), 0x7F000001u);
}

TEST(Sockets, DottedAddresses) {
  EXPECT_EQ(inet_addr("127.0.0.1"), loopback);
  EXPECT_EQ(inet_addr("255.255.255.255"), INADDR_NONE_ADDRESS);
  EXPECT_EQ(inet_addr("localhost"), INADDR_NONE_ADDRESS);
  EXPECT_EQ(inet_addr(""), INADDR_NONE_ADDRESS);
}

TEST(Sockets, BlockingLookupGivesTheFirstIpv4Address) {
  const THostEnt* entry = gethostbyname("localhost");
  ASSERT_NE(entry, nullptr);
  ASSERT_EQ(entry->h_length, 4);
  std::uint32_t address;
  std::memcpy(&address, entry->h_addr_list[0], 4);
  EXPECT_EQ(ntohl(address) >> 24, 127u);
  // Two dots in a row: refused by the resolver itself, no query leaves the machine.
  EXPECT_EQ(gethostbyname("no..such.host"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

TEST(Sockets, RefusedConnectAndUnconnectedSocketGiveTheLibrarysNumbers) {
  testing_support::refused_port refused;
  const TSocket s = socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  const TSockAddrIn record = loopback_record(refused.port());
  EXPECT_EQ(connect(s, &record, sizeof record), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
  closesocket(s);

  const TSocket fresh = socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  TSockAddrIn peer{};
  int length = sizeof peer;
  EXPECT_EQ(getpeername(fresh, &peer, &length), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
  char byte;
  EXPECT_EQ(recv(fresh, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
  closesocket(fresh);

  EXPECT_EQ(recv(INVALID_SOCKET, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST(Sockets, AConnectedSocketNamesItsPeer) {
  scripted_server server;
  const TSocket s = connected_socket(server.port());
  TSockAddrIn peer{};
  int length = sizeof peer + 4;
  ASSERT_EQ(getpeername(s, &peer, &length), 0);
  EXPECT_EQ(length, static_cast<int>(sizeof peer));
  EXPECT_EQ(peer.sin_family, WS_AF_INET);
  EXPECT_EQ(ntohs(peer.sin_port), server.port());
  EXPECT_EQ(peer.sin_addr, loopback);
  closesocket(s);
}

// Sends to a peer that has gone: the first failure reports the reset, every
// send after it is one that the system would answer with SIGPIPE, which must
// not end the process.
TEST(Sockets, SendToAClosedPeerFailsWithoutSigpipe) {
#ifdef SIGPIPE  // Windows has no such signal; the sends must fail all the same
  struct default_sigpipe {
    default_sigpipe() : old(std::signal(SIGPIPE, SIG_DFL)) {}
    ~default_sigpipe() { std::signal(SIGPIPE, old); }
    void (*old)(int);
  } sigpipe_ends_the_process;
#endif
  scripted_server server({scripted_answer::resetting()});
  const TSocket s = connected_socket(server.port());
  ASSERT_EQ(send(s, "GET\r\n\r\n", 7, 0), 7);
  server.request(0);  // returns once the server has reset the connection
  int failures = 0;
  for (int i = 0; i < 1000 && failures < 5; ++i)
    if (send(s, "x", 1, 0) == SOCKET_ERROR) {
      ++failures;
      EXPECT_NE(WSAGetLastError(), WSAEWOULDBLOCK);
    }
  EXPECT_EQ(failures, 5) << "a send to a closed peer fails, again and again";
  closesocket(s);
}

// The limits are 60 seconds of the monotonic clock, stepped here.
TEST(Sockets, BlockingReceiveGivesUpAfterSixtySecondsAsAFailure) {
  stepped_time time;
  scripted_server server({scripted_answer::silent().unprompted()});
  const TSocket s = connected_socket(server.port());
  const int before = test_hooks::time_outs();
  char byte;
  EXPECT_EQ(recv(s, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT) << "never 'would block'";
  EXPECT_EQ(time.elapsed(), std::chrono::seconds(60));
  EXPECT_EQ(test_hooks::time_outs() - before, 1);
  closesocket(s);
}

TEST(Sockets, BlockingConnectGivesUpAfterSixtySecondsAsAFailure) {
  stepped_time time;
  testing_support::unanswered_port unanswered;
  const testing_support::peer_silence never_answered;
  const TSocket s = socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  const TSockAddrIn record = loopback_record(unanswered.port());
  EXPECT_EQ(connect(s, &record, sizeof record), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT) << "never 'would block'";
  EXPECT_EQ(time.elapsed(), std::chrono::seconds(60));
  TSockAddrIn peer{};
  int length = sizeof peer;
  EXPECT_EQ(getpeername(s, &peer, &length), SOCKET_ERROR);
  closesocket(s);
}

TEST(Sockets, ReceiveOfTheEndClearsAnEarlierWouldBlock) {
  scripted_server server({scripted_answer::bytes("x").unprompted()});
  const TSocket s = connected_socket(server.port());
  char byte;
  ASSERT_EQ(recv(s, &byte, 1, 0), 1);
  WSASetLastError(WSAEWOULDBLOCK);
  EXPECT_EQ(recv(s, &byte, 1, 0), 0);
  EXPECT_EQ(WSAGetLastError(), 0);
  closesocket(s);
}

TEST(Sockets, StartUpReportsSuccess) {
  TWSAData data;
  EXPECT_EQ(WSAStartup(0x0101, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
}

TEST(Sockets, HostEntryLaidIntoABuffer) {
  alignas(16) char buffer[1025] = {};
  ASSERT_TRUE(place_host_entry(buffer, sizeof buffer, loopback));
  const auto* entry = reinterpret_cast<const THostEnt*>(buffer);
  EXPECT_EQ(entry->h_length, 4);
  std::uint32_t address;
  std::memcpy(&address, entry->h_addr_list[0], 4);
  EXPECT_EQ(address, loopback);
  EXPECT_EQ(entry->h_addr_list[1], nullptr);
  EXPECT_FALSE(place_host_entry(buffer, 8, loopback));
}

struct event_log {
  std::vector<TMessage> messages;
  HWND window;
  event_log() : window(AllocateHWnd([this](TMessage& m) { messages.push_back(m); })) {}
  ~event_log() { DeallocateHWnd(window); }
  bool has(std::uint32_t msg, std::uint16_t low) const {
    for (const TMessage& m : messages)
      if (m.Msg == msg && LParamLo(m) == low) return true;
    return false;
  }
  int count(std::uint16_t low) const {
    int n = 0;
    for (const TMessage& m : messages) n += LParamLo(m) == low;
    return n;
  }
};

TEST(Sockets, BackgroundLookupPostsItsMessageWithTheEntryInPlace) {
  event_log log;
  std::shared_ptr<char[]> buffer(new char[1025]());
  ASSERT_NE(WSAAsyncGetHostByName(log.window, 1280, "localhost", buffer, 1025), 0);
  ASSERT_TRUE(RunMessageLoop([&] { return !log.messages.empty(); }, 10000));
  EXPECT_EQ(log.messages[0].Msg, 1280u);
  EXPECT_EQ(LParamHi(log.messages[0]), 0);
  const auto* entry = reinterpret_cast<const THostEnt*>(buffer.get());
  ASSERT_EQ(entry->h_length, 4);

  std::shared_ptr<char[]> unknown(new char[1025]());
  ASSERT_NE(WSAAsyncGetHostByName(log.window, 1280, "no..such.host", unknown, 1025), 0);
  ASSERT_TRUE(RunMessageLoop([&] { return log.messages.size() == 2; }, 10000));
  EXPECT_EQ(LParamHi(log.messages[1]), WSAHOST_NOT_FOUND);
  EXPECT_EQ(reinterpret_cast<const THostEnt*>(unknown.get())->h_length, 0) << "left unfilled";
}

TEST(Sockets, RegisteredSocketAnnouncesConnectWriteReadAndClose) {
  scripted_server server({scripted_answer::bytes("hello")});
  event_log log;
  const TSocket s = socket(WS_AF_INET, WS_SOCK_STREAM, 0);
  ASSERT_EQ(WSAAsyncSelect(s, log.window, 1281, 0x3B), 0);
  const TSockAddrIn record = loopback_record(server.port());
  if (connect(s, &record, sizeof record) == SOCKET_ERROR) {
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  }
  ASSERT_TRUE(RunMessageLoop([&] { return log.has(1281, FD_WRITE); }, 10000));
  ASSERT_GE(log.messages.size(), 2u);
  EXPECT_EQ(LParamLo(log.messages[0]), FD_CONNECT);
  EXPECT_EQ(LParamHi(log.messages[0]), 0);
  EXPECT_EQ(log.messages[0].WParam, s);

  ASSERT_EQ(send(s, "GET\r\n\r\n", 7, 0), 7);
  ASSERT_TRUE(RunMessageLoop([&] { return log.has(1281, FD_READ); }, 10000));
  // Read is announced once until the next receive.
  ProcessMessages();
  EXPECT_EQ(log.count(FD_READ), 1);
  std::string received;
  char buffer[16];
  for (int got; (got = recv(s, buffer, sizeof buffer, 0)) > 0;) received.append(buffer, got);
  EXPECT_EQ(received, "hello");
  ASSERT_TRUE(RunMessageLoop([&] { return log.has(1281, FD_CLOSE); }, 10000));
  EXPECT_EQ(log.count(FD_CLOSE), 1);
  closesocket(s);
}

TEST(Sockets, NonBlockingReceiveWithNothingWaitingWouldBlock) {
  scripted_server server({scripted_answer::silent()});
  event_log log;
  const TSocket s = connected_socket(server.port());
  ASSERT_EQ(WSAAsyncSelect(s, log.window, 1281, FD_READ), 0);
  char byte;
  EXPECT_EQ(recv(s, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  closesocket(s);
}

// One-byte receives are served from one system receive; a larger one takes
// the bytes read ahead first, then goes to the system; nothing is lost,
// repeated or reordered.
TEST(ReadAhead, SmallReceivesCostOneSystemCallAndEveryByteArrivesOnceInOrder) {
  const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n";
  const std::string data = header + testing_support::patterned_bytes(100000);
  scripted_server server({scripted_answer::bytes(data).unprompted()});
  const TSocket s = connected_socket(server.port());
  const long long before = system_receives();
  std::string received;
  char byte;
  while (received.size() < header.size() && recv(s, &byte, 1, 0) == 1) received += byte;
  EXPECT_LE(system_receives() - before, 3) << "a header costs a few system calls";
  char buffer[32512];
  const long long filled = system_receives();
  const int drained = recv(s, buffer, sizeof buffer, 0);
  ASSERT_GT(drained, 0);
  EXPECT_EQ(system_receives(), filled) << "the bytes read ahead come first, alone";
  received.append(buffer, static_cast<std::size_t>(drained));
  for (int got; received.size() <= data.size() && (got = recv(s, buffer, sizeof buffer, 0)) > 0;)
    received.append(buffer, static_cast<std::size_t>(got));
  EXPECT_EQ(received, data);
  EXPECT_LE(system_receives() - filled, 6) << "the rest goes to the system in large receives";
  closesocket(s);
}

// A registered socket is readable while read-ahead bytes wait, though the
// system holds none; closing the socket drops them.
TEST(ReadAhead, WaitingBytesAreAnnouncedAndDroppedWithTheSocket) {
  scripted_server server({scripted_answer::bytes("hello").unprompted(),
                          scripted_answer::bytes("B").unprompted()});
  event_log log;
  const TSocket s = connected_socket(server.port());
  char buffer[16];
  ASSERT_EQ(recv(s, buffer, 1, 0), 1);  // blocks until "hello" is there
  ASSERT_EQ(recv(s, buffer, 1, WS_MSG_PEEK), 1);
  EXPECT_EQ(buffer[0], 'e') << "a peek sees the next byte and leaves it";
  ASSERT_EQ(WSAAsyncSelect(s, log.window, 1281, FD_READ), 0);
  for (const char expected : std::string("ell")) {
    log.messages.clear();
    ASSERT_TRUE(RunMessageLoop([&] { return log.has(1281, FD_READ); }, 10000));
    ASSERT_EQ(recv(s, buffer, 1, 0), 1);
    EXPECT_EQ(buffer[0], expected);
  }
  closesocket(s);  // "o" still waits
  const TSocket next = connected_socket(server.port());
  ASSERT_EQ(recv(next, buffer, 1, 0), 1);
  EXPECT_EQ(buffer[0], 'B') << "no byte of a closed socket reaches another one";
  closesocket(next);
}

}  // namespace
