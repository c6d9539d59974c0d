// The platform's sockets as the tests use them: a loopback client
// connection.
#pragma once

#include <cstdint>

#include <gtest/gtest.h>

#include "tests/support/scripted_server.hpp"
// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"

namespace testing_support {

// The address record of `port` on loopback.
inline platform::TSockAddrIn loopback_record(std::uint16_t port) {
  platform::TSockAddrIn record{};
  record.sin_family = platform::WS_AF_INET;
  record.sin_port = platform::htons(port);
  record.sin_addr = loopback;
  return record;
}

// A socket of the platform connected to `port` on loopback; a connect that
// fails fails the test.
inline platform::TSocket connected_socket(std::uint16_t port) {
  const platform::TSocket s = platform::socket(platform::WS_AF_INET, platform::WS_SOCK_STREAM, 0);
  const platform::TSockAddrIn record = loopback_record(port);
  EXPECT_EQ(platform::connect(s, &record, sizeof record), 0);
  return s;
}

}  // namespace testing_support
