// The strips on disk stay whole whatever happens to the built quorvel: killed
// at any moment of a large download, or run twice at once into one target.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/http_fetch.hpp"
#include "tests/support/run.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/server_process.hpp"

namespace {

using testing_support::child_process;
using testing_support::list_dir;
using testing_support::read_file;
using testing_support::scripted_answer;
using testing_support::temp_dir;

// A whole GIF file (a 1x1 image after comment blocks) of about `size` bytes,
// its comments made of bytes that depend on `seed`.
std::string whole_gif(std::size_t size, unsigned seed) {
  std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff", 19);
  gif += "\x21\xfe";
  const std::string filler = testing_support::patterned_bytes(size + 255 + seed);
  for (std::size_t at = seed; at < size + seed; at += 255) {
    gif += static_cast<char>(255);
    gif += filler.substr(at, 255);
  }
  gif += '\0';
  gif += std::string("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b", 16);
  return gif;
}

// A day `days` before today, at noon local time, formatted.
std::string day_before_today(int days, const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm date{};
  localtime_r(&now, &date);
  date.tm_mday -= days;
  date.tm_hour = 12;  // clear of any change of daylight saving time
  std::mktime(&date);
  char text[32];
  std::strftime(text, sizeof text, format, &date);
  return text;
}

// Every file in `dir` is one of `strips` (hidden and temporary files
// included) and holds exactly its bytes; the number of files.
std::size_t expect_only_whole_strips(const std::string& dir,
                                     const std::map<std::string, std::string>& strips) {
  const auto names = list_dir(dir);
  for (const auto& name : names) {
    const auto strip = strips.find(name);
    if (strip == strips.end()) {
      ADD_FAILURE() << "not a strip: " << name;
      continue;
    }
    EXPECT_TRUE(read_file(dir + "/" + name) == strip->second) << name << " is not whole";
  }
  return names.size();
}

// An archive of large strips on a scripted server that stands as the proxy.
class LargeArchive : public testing::Test {
 protected:
  static constexpr int days = 24;

  void SetUp() override {
    const std::string archive = "/comics/quorvel/archive/";
    std::string calendar = "<select>\r\n";
    for (int day = 0; day < days; ++day) {
      const std::string page = "cal-" + std::to_string(day) + ".html";
      const std::string image = std::to_string(day) + ".gif";
      calendar += "<option value=\"" + archive + page + "\">" +
                  day_before_today(day, "%b. %d, %Y") + "\r\n";
      server_.route(archive + page, ok("<img src=\"" + archive + "images/" + image + "\">\r\n"));
      const std::string strip = whole_gif(512 << 10, static_cast<unsigned>(day));
      server_.route(archive + "images/" + image, ok(strip));
      strips_[day_before_today(day, "qv%y%m%d.gif")] = strip;
    }
    server_.route(archive, ok(calendar + "</select>\r\n"));
  }

  static scripted_answer ok(const std::string& body) {
    return scripted_answer::http("HTTP/1.0 200 OK",
                                 {"Content-Length: " + std::to_string(body.size())}, body);
  }

  testing_support::scripted_server server_;
  std::map<std::string, std::string> strips_;  // file name: bytes
};

TEST_F(LargeArchive, AKillAtAnyMomentLeavesOnlyWholeStripsAndTheNextRunGoesOn) {
  temp_dir target;
  const std::vector<std::string> args = {"/proxy=" + server_.address()};
  int kills = 0;
  std::size_t on_disk = 0;
  for (int round = 0; round < 60 && on_disk < strips_.size(); ++round) {
    // The moment: the k-th progress line (mostly one of an image, sometimes
    // one of a day page), then a small delay that differs from round to round.
    const int missing = static_cast<int>(strips_.size() - on_disk);
    const int k = round % 5 == 4 ? 1 + round % missing : missing + 1 + round % 3;
    child_process quorvel(QUORVEL_BIN, args, target.path());
    std::string line;
    for (int seen = 0; seen < k && quorvel.read_line(line);) seen += line.rfind("Getting ", 0) == 0;
    std::this_thread::sleep_for(std::chrono::microseconds(round % 8 * 1500));
    quorvel.kill(SIGKILL);
    kills += !quorvel.ended_by_itself();
    on_disk = expect_only_whole_strips(target.path(), strips_);
    if (HasFailure()) break;
  }
  EXPECT_GT(kills, 0) << "every run ended before its kill: no kill was tested";

  testing_support::run_options in_target;
  in_target.cwd = target.path();
  const auto result = testing_support::run(QUORVEL_BIN, args, in_target);
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(expect_only_whole_strips(target.path(), strips_), strips_.size());
}

// The strip a day page of comics-server shows first, by the strip's file name.
std::map<std::string, std::string> served_strips(std::uint16_t port) {
  const std::string section = "/comics/quorvel/archive/";
  const std::regex day_page("/archive/cal-[0-9]{2}([0-9]{6})\\.html");
  const std::regex image("(/comics/quorvel/archive/images/[^\"]+\\.gif)");
  std::map<std::string, std::string> strips;
  const std::string calendar = testing_support::fetch(port, section).body;
  for (auto it = std::sregex_iterator(calendar.begin(), calendar.end(), day_page);
       it != std::sregex_iterator(); ++it) {
    const std::string page = testing_support::fetch(port, "/comics/quorvel" + (*it)[0].str()).body;
    std::smatch first;
    if (std::regex_search(page, first, image))
      strips["qv" + (*it)[1].str() + ".gif"] = testing_support::fetch(port, first[1].str()).body;
  }
  return strips;
}

TEST(TwoRunsAtOnce, BothEndWellAndLeaveEveryStripOnceAndWhole) {
  testing_support::server_process server(COMICS_SERVER_BIN,
                                         {"--listen", "127.0.0.1:0", "--days", "120"});
  ASSERT_TRUE(server.started());
  const std::vector<std::string> args = {"/proxy=127.0.0.1:" + std::to_string(server.port()),
                                         "/verbatim=N"};
  temp_dir target;
  child_process first(QUORVEL_BIN, args, target.path());
  child_process second(QUORVEL_BIN, args, target.path());
  EXPECT_EQ(first.wait(), 0);
  EXPECT_EQ(second.wait(), 0);

  const auto strips = served_strips(server.port());
  ASSERT_EQ(strips.size(), 120u);
  EXPECT_EQ(expect_only_whole_strips(target.path(), strips), strips.size());
}

}  // namespace
