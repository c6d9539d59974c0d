// Fuzz target: a server's answer - status line, header lines, body - read by
// T_HTTP's Get from a socket pair in place of a connection, the answer whole
// in the pair before the request goes out.
#include <sys/socket.h>
#include <unistd.h>

#include <string_view>

#include "tcpip/http.hpp"
#include "tests/fuzz/fuzz_check.hpp"

namespace {

// T_HTTP whose connection is one end of the pair: the blocking connect of a
// socket that is connected already.
class paired_http : public tcpip::T_HTTP {
 public:
  explicit paired_http(int end) : T_HTTP(nullptr), end_(end) {}
  void OpenOutputSocket(std::int32_t& socket, std::uint16_t, std::uint32_t) override {
    socket = end_;
    PeerConnected = true;
  }

 private:
  int end_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 0;
  // An answer the pair cannot hold at once is skipped; the rest ends in order.
  const bool held = send(ends[1], data, size, MSG_DONTWAIT) == static_cast<ssize_t>(size);
  shutdown(ends[1], SHUT_WR);
  if (held) {
    paired_http http(ends[0]);
    http.URL = "http://127.0.0.1/";
    try {
      http.Get();
      // The pair ends in order and never fails; the body is what follows the
      // header, when the transfer was not stopped.
      fuzz::require(http.Outcome != tcpip::ho_no_connection && http.Outcome != tcpip::ho_failed &&
                    http.Outcome != tcpip::ho_timed_out && http.Outcome != tcpip::ho_malformed);
      fuzz::require(http.Outcome == tcpip::ho_too_large || http.Outcome == tcpip::ho_header_too_long ||
                    std::string_view(reinterpret_cast<const char*>(data), size).ends_with(http.Stream.View()));
    } catch (const platform::EConvertError&) {
      fuzz::require(http.Outcome == tcpip::ho_malformed);
    }
    fuzz::require(http.Socket == -1 && http.Stream.Size() <= tcpip::max_body_size);
  } else {
    close(ends[0]);
  }
  close(ends[1]);
  return 0;
}
