// Download speed of the HTTP client against a plain socket reader fetching
// the same answers from the same loopback server. The ratio of the two times
// is what counts; absolute times depend on the machine.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/startup.hpp"
#include "platform/process.hpp"
#include "tcpip/http.hpp"

namespace {

// Answers every connection with one fixed HTTP/1.0 answer and closes it.
class answer_server {
 public:
  explicit answer_server(std::size_t body_size) {
    const std::string body(body_size, 'g');
    answer_ = "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\n\r\n" + body;
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 64);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~answer_server() {
    stopping_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::uint16_t port() const { return port_; }

 private:
  void serve() {
    while (!stopping_) {
      const int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      char request[4096];
      std::string head;
      while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(client, request, sizeof request, 0);
        if (n <= 0) break;
        head.append(request, static_cast<std::size_t>(n));
      }
      for (std::size_t sent = 0; sent < answer_.size();) {
        const ssize_t n =
            ::send(client, answer_.data() + sent, answer_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      ::shutdown(client, SHUT_WR);
      while (::recv(client, request, sizeof request, 0) > 0) {
      }
      ::close(client);
    }
  }

  std::string answer_;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// The baseline: one request, then large reads until the server closes.
std::size_t plain_fetch(std::uint16_t port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string received;
  char buffer[65536];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
    received.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return received.size();
}

const std::string strip_url = "http://localhost:8642/comics/quorvel/archive/images/a.gif";

void BM_PlainSocket(benchmark::State& state) {
  answer_server server(static_cast<std::size_t>(state.range(0)));
  const std::string request =
      "GET " + strip_url + " HTTP/1.0\r\nHost: localhost\r\nAccept: */*\r\n\r\n";
  for (auto _ : state) benchmark::DoNotOptimize(plain_fetch(server.port(), request));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_T_HTTP(benchmark::State& state) {
  answer_server server(static_cast<std::size_t>(state.range(0)));
  tcpip::T_HTTP http(nullptr);
  http.Proxy = "127.0.0.1:" + std::to_string(server.port());
  http.URL = strip_url;
  for (auto _ : state) {
    http.Get();
    if (http.Stream.Size() != static_cast<std::size_t>(state.range(0)))
      state.SkipWithError("short body");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// A page (3 KB), a strip (15 KB) and a large body (1 MB).
BENCHMARK(BM_PlainSocket)->Arg(3 << 10)->Arg(15 << 10)->Arg(1 << 20)->UseRealTime();
BENCHMARK(BM_T_HTTP)->Arg(3 << 10)->Arg(15 << 10)->Arg(1 << 20)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  char* program_only[] = {argv[0], nullptr};
  platform::set_args(1, program_only);
  app::start_units();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  app::stop_units();
  return 0;
}
