// The comics server's connection handling in this process: image answers
// come from the cache and equal a fresh rendering, heads that arrive in
// pieces are read whole, answers larger than the send buffer arrive whole,
// and at the connection limit the oldest idle connection makes room for a
// new one; an answer waits for its latency without holding up others.
#include "server/web_server.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "server/comic_site.hpp"
#include "server/strip_gif.hpp"
#include "tests/support/http_fetch.hpp"
#include "tests/support/stepped_time.hpp"

namespace {

using testing_support::fetch;
using testing_support::http_answer;
using testing_support::loopback_client;

const server::day march_5 = std::chrono::sys_days{std::chrono::year{2024} / 3 / 5};

const app::TComic& quorvel_comic() {
  for (const app::TComic& comic : app::Comics)
    if (comic.Key == "quorvel") return comic;
  throw std::logic_error("no quorvel in the catalogue");
}

std::string fresh_strip(server::day d) {
  const app::TComic& comic = quorvel_comic();
  return server::strip_gif(server::display_title(comic.Title), comic.Key, d);
}

std::string image_request(server::day d) {
  return "GET /comics/quorvel/archive/images/quorvel-" + server::compact_date(d) +
         ".gif HTTP/1.0\r\n\r\n";
}

// A web_server on 127.0.0.1 with a port of its own, run on a thread of this
// process until the object goes.
class running_server {
 public:
  explicit running_server(server::server_settings settings) {
    settings.fixed_today = march_5;
    settings.log = true;
    std::string error;
    if (!socket_.listen("127.0.0.1", 0, error)) throw std::runtime_error(error);
    server_ = std::make_unique<server::web_server>(socket_, settings, log_);
    thread_ = std::thread([this] { server_->run(); });
  }
  ~running_server() { stop(); }
  running_server(const running_server&) = delete;
  running_server& operator=(const running_server&) = delete;

  std::uint16_t port() const { return socket_.port(); }
  const server::web_server& web() const { return *server_; }
  // The log is complete once stopped.
  std::string stop_and_log() {
    stop();
    return log_.str();
  }

 private:
  void stop() {
    if (!thread_.joinable()) return;
    socket_.stop();
    thread_.join();
  }

  platform::server_socket socket_;
  std::ostringstream log_;
  std::unique_ptr<server::web_server> server_;
  std::thread thread_;
};

server::server_settings long_limit() {
  server::server_settings settings;
  settings.read_limit = std::chrono::minutes(10);
  return settings;
}

TEST(WebServer, ACachedImageIsTheFreshRenderingAndIsNotRenderedAgain) {
  server::strip_cache cache(std::size_t{1} << 20);
  const std::string fresh = fresh_strip(march_5);
  for (int round = 0; round < 2; ++round) {
    const server::exchange done = server::answer_request(image_request(march_5), march_5, 30, &cache);
    EXPECT_EQ(done.answer.status, 200) << "round " << round;
    EXPECT_EQ(done.answer.content_type, "image/gif") << "round " << round;
    EXPECT_EQ(done.answer.body, fresh) << "round " << round;
  }
  EXPECT_EQ(cache.entries(), 1u);
  EXPECT_EQ(cache.hits(), 1u);
}

TEST(WebServer, ACachedImageIsNotServedForADayOutsideTheArchive) {
  server::strip_cache cache(std::size_t{1} << 20);
  ASSERT_EQ(server::answer_request(image_request(march_5), march_5, 30, &cache).answer.status, 200);
  // The day before, 5 March lies in the future.
  const server::day march_4 = march_5 - std::chrono::days{1};
  EXPECT_EQ(server::answer_request(image_request(march_5), march_4, 30, &cache).answer.status, 404);
  // One day archived: 4 March no longer is.
  EXPECT_EQ(server::answer_request(image_request(march_4), march_5, 1, &cache).answer.status, 404);
}

TEST(WebServer, AnswersRepeatedImageRequestsFromItsCache) {
  running_server running(long_limit());
  const std::string target = "/comics/quorvel/archive/images/quorvel-20240305.gif";
  const http_answer first = fetch(running.port(), target);
  const http_answer second = fetch(running.port(), target);
  EXPECT_EQ(first.body, fresh_strip(march_5));
  EXPECT_EQ(second.body, first.body);
  EXPECT_EQ(second.header("content-length"), std::to_string(first.body.size()));
  EXPECT_EQ(running.web().cache().hits(), 1u);
}

TEST(WebServer, AHeadThatArrivesInPiecesIsReadWhole) {
  running_server running(long_limit());
  loopback_client client(running.port());
  const std::string request = "GET /comics/quorvel/archive/ HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  for (char c : request) {
    // A short pause between the bytes lets the server read them one by one.
    ASSERT_FALSE(client.wait_for_server(2)) << "answered before the head was complete";
    ASSERT_TRUE(client.send(std::string(1, c)));
  }
  const http_answer answer = client.receive(30);
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, fetch(running.port(), "/comics/quorvel/archive/").body);
}

TEST(WebServer, AnAnswerLargerThanTheSendBufferArrivesWhole) {
  server::server_settings settings = long_limit();
  settings.days = 3660;  // a calendar of some hundred kilobytes
  settings.send_buffer = 4096;
  running_server running(settings);
  const http_answer calendar = fetch(running.port(), "/comics/quorvel/archive/");
  EXPECT_EQ(calendar.status, 200);
  EXPECT_GT(calendar.body.size(), 200u * 1024);
  EXPECT_EQ(calendar.header("content-length"), std::to_string(calendar.body.size()));
  EXPECT_TRUE(calendar.body.ends_with("</html>\n"));
}

TEST(WebServer, AtTheLimitTheOldestIdleConnectionMakesRoom) {
  server::server_settings settings = long_limit();
  settings.max_connections = 4;
  running_server running(settings);
  std::vector<std::unique_ptr<loopback_client>> idle;
  const auto add_idle = [&] {
    idle.push_back(std::make_unique<loopback_client>(running.port()));
    // Some send part of a head, some nothing: both are idle.
    return idle.back()->connected() &&
           (idle.size() % 2 == 0 || idle.back()->send("GET /comics/quorvel/archive/ HTTP/1.0\r\n"));
  };
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(add_idle());
  for (std::size_t dropped = 0; dropped < 2; ++dropped) {
    // The limit is full again: four idle connections, the oldest one first.
    if (dropped > 0) {
      ASSERT_TRUE(add_idle());
    }
    const http_answer normal = fetch(running.port(), "/comics/quorvel/archive/");
    EXPECT_EQ(normal.status, 200) << "request " << dropped;
    const http_answer gone = idle[dropped]->receive(30);
    EXPECT_TRUE(gone.closed) << "connection " << dropped;
    EXPECT_EQ(gone.status, 503) << "connection " << dropped;
    for (std::size_t later = dropped + 1; later < idle.size(); ++later)
      EXPECT_FALSE(idle[later]->wait_for_server(0)) << "connection " << later << " was dropped too";
  }
  // The ones kept are still served when they finish their request.
  ASSERT_TRUE(idle[2]->send("\r\n"));
  EXPECT_EQ(idle[2]->receive(30).status, 200);
  idle.clear();  // so that the stop need not wait for their ends
  const std::string log = running.stop_and_log();
  EXPECT_NE(log.find("- - 503 "), std::string::npos) << log;
}

TEST(WebServer, EachAnswerWaitsForItsLatencyWithoutHoldingUpOthers) {
  testing_support::stepped_time clock;  // still but for the steps below; the loop reads it every 50 ms
  running_server running([] { auto s = long_limit(); s.latency = std::chrono::milliseconds(50); return s; }());
  const server::strip_cache& cache = running.web().cache();
  const auto await = [](auto done) {  // whether done() holds within half a minute
    for (int i = 0; i < 30000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
  };
  loopback_client first(running.port());
  ASSERT_TRUE(first.send(image_request(march_5)) && await([&] { return cache.entries() == 1; })) << "not read";
  clock.step(std::chrono::nanoseconds(1));  // the first came in at 0, the second comes at 1 ns
  loopback_client second(running.port());
  ASSERT_TRUE(second.send(image_request(march_5)) && await([&] { return cache.hits() == 1; })) << "held up";
  clock.step(std::chrono::milliseconds(50) - std::chrono::nanoseconds(1));
  EXPECT_EQ(first.receive(30).body, fresh_strip(march_5));
  EXPECT_FALSE(second.wait_for_server(0)) << "sent 1 ns before its time";
  clock.step(std::chrono::nanoseconds(1));
  EXPECT_EQ(second.receive(30).body, fresh_strip(march_5));
}

}  // namespace
