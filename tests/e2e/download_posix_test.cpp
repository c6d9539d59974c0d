// The built quorvel downloading strips end to end: from comics-server at the
// catalogue's own address and through it as a proxy, from scripted servers
// for exact requests, and the ways a run ends with an error of its own (a
// failed request's report is trust_test's).
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tcpip/url.hpp"
#include "tests/support/http_fetch.hpp"
#include "tests/support/report.hpp"
#include "tests/support/run.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/tiny_gif.hpp"

namespace {

namespace fs = std::filesystem;
using testing_support::in_dir;
using testing_support::read_file;
using testing_support::run;
using testing_support::run_options;
using testing_support::scripted_answer;
using testing_support::scripted_server;
using testing_support::server_process;
using testing_support::temp_dir;

using testing_support::banner;
const std::string base_url = QUORVEL_BASE_URL;

// One archived day as comics-server shows it.
struct archived_day {
  std::string ymd;    // "20261207"
  std::string page;   // the day page's path
  std::string image;  // the path of the strip, the first image on the page
};

std::vector<std::string> matches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> found;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
       ++it)
    found.push_back((*it)[1]);
  return found;
}

// The days the server's calendar of a comic lists, newest first, with the
// strip each day page names first.
std::vector<archived_day> archive_of(std::uint16_t port, const std::string& section_key) {
  const auto calendar = testing_support::fetch(port, "/" + section_key + "/archive/");
  std::vector<archived_day> days;
  for (const auto& ymd :
       matches(calendar.body, "<option value=\"/" + section_key + "/archive/cal-([0-9]{8})\\.html\"")) {
    archived_day day{ymd, "/" + section_key + "/archive/cal-" + ymd + ".html", ""};
    const auto page = testing_support::fetch(port, day.page);
    const auto images = matches(page.body, "(/" + section_key + "/archive/images/[^\"]+\\.gif)");
    if (!images.empty()) day.image = images.front();
    days.push_back(day);
  }
  return days;
}

std::string strip_name(const std::string& prefix, const archived_day& day) {
  return prefix + day.ymd.substr(2) + ".gif";
}

// The progress lines of a first run: day pages newest first, then strips
// oldest first.
std::string progress_of(const std::vector<archived_day>& days) {
  std::string lines;
  for (const auto& day : days) lines += "Getting " + base_url + day.page + "\n";
  for (auto day = days.rbegin(); day != days.rend(); ++day)
    lines += "Getting " + base_url + day->image + "\n";
  return lines;
}

void expect_archive_on_disk(const std::string& dir, std::uint16_t port, const std::string& prefix,
                            const std::vector<archived_day>& days) {
  std::vector<std::string> expected;
  for (const auto& day : days) expected.push_back(strip_name(prefix, day));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(testing_support::list_dir(dir), expected);
  for (const auto& day : days) {
    const auto served = testing_support::fetch(port, day.image);
    ASSERT_EQ(served.status, 200) << day.image;
    EXPECT_EQ(read_file(dir + "/" + strip_name(prefix, day)), served.body) << day.image;
  }
}

// The day before today by the local clock, as comics-server takes it: its
// archive then stays the same when a test runs past midnight, and every day
// in it lies behind quorvel's clock whenever quorvel runs.
std::string yesterday() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_mday -= 1;
  local.tm_hour = 12;  // clear of any change of daylight saving time
  std::mktime(&local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// Whether some program already accepts connections on the port.
bool port_taken(std::uint16_t port) { return testing_support::loopback_client(port).connected(); }

std::size_t log_lines(const server_process& server) {
  const std::string log = server.err();
  return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
}

TEST(CatalogueAddress, DefaultComicFromTheServerItNamesAndOnlyWhatIsNewOnTheNextRun) {
  std::string protocol, user, password, host, port, path;
  tcpip::ParseURL(base_url, protocol, user, password, host, port, path);
  if (port_taken(static_cast<std::uint16_t>(std::stoi(port))))
    GTEST_SKIP() << "another program holds the catalogue's port " << port
                 << ", which this test must serve";
  server_process server(COMICS_SERVER_BIN, {"--days", "10", "--log", "--today", yesterday()});
  ASSERT_TRUE(server.started()) << "comics-server could not listen on " << base_url;
  ASSERT_EQ(std::to_string(server.port()), port);
  const auto days = archive_of(server.port(), "comics/quorvel");
  ASSERT_EQ(days.size(), 10u);

  temp_dir cwd;
  fs::create_directory(cwd / "Strips");  // found although the library spells it STRIPS
  run_options options = in_dir(cwd.path());
  auto result = run(QUORVEL_BIN, {"/target=strips"}, options);
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(result.out, banner + progress_of(days));
  expect_archive_on_disk(cwd / "Strips", server.port(), "qv", days);
  EXPECT_EQ(testing_support::list_dir(cwd.path()), std::vector<std::string>{"Strips"});

  // Everything is there: only the calendar page is asked for, nothing is said.
  const std::size_t requests_before = log_lines(server);
  result = run(QUORVEL_BIN, {"/target=strips"}, options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, banner);
  EXPECT_EQ(log_lines(server), requests_before + 1);
  EXPECT_NE(server.err().rfind("GET /comics/quorvel/archive/ 200"), std::string::npos);

  // One strip gone: exactly its day page and its image are fetched again.
  const archived_day& lost = days[4];
  fs::remove(cwd / ("Strips/" + strip_name("qv", lost)));
  result = run(QUORVEL_BIN, {"/target=strips"}, options);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, banner + "Getting " + base_url + lost.page + "\nGetting " + base_url +
                            lost.image + "\n");
  expect_archive_on_disk(cwd / "Strips", server.port(), "qv", days);
}

class ThroughComicsServer : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.started()); }
  std::string proxy() const { return "/proxy=127.0.0.1:" + std::to_string(server_.port()); }

  server_process server_{COMICS_SERVER_BIN,
                        {"--listen", "127.0.0.1:0", "--days", "8", "--today", yesterday()}};
  temp_dir cwd_;
};

TEST_F(ThroughComicsServer, AnotherComicAndThePartnerComicThroughTheProxy) {
  auto result = run(QUORVEL_BIN, {"/mode=cricket", proxy()}, in_dir(cwd_.path()));
  EXPECT_EQ(result.exit_code, 0) << result.out;
  const auto cricket = archive_of(server_.port(), "comics/cricket");
  EXPECT_EQ(result.out, banner + progress_of(cricket));

  temp_dir partner;
  result = run(QUORVEL_BIN, {"/mode=Owlfred", proxy(), "/verbatim=N"}, in_dir(partner.path()));
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(result.out, banner);  // no progress lines, the banner all the same
  expect_archive_on_disk(partner.path(), server_.port(), "ow",
                         archive_of(server_.port(), "partner/owlfred"));
  expect_archive_on_disk(cwd_.path(), server_.port(), "ck", cricket);
}

TEST_F(ThroughComicsServer, FourConnectionsFetchTheSameArchiveWithTheSameLines) {
  const auto result = run(QUORVEL_BIN, {proxy(), "/connections=4"}, in_dir(cwd_.path()));
  EXPECT_EQ(result.exit_code, 0) << result.out;
  const auto days = archive_of(server_.port(), "comics/quorvel");
  // Each line as its request starts: the order is the answers' to decide.
  const auto sorted_lines = [](const std::string& text) {
    auto lines = testing_support::lines_of(text);
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sorted_lines(result.out), sorted_lines(banner + progress_of(days)));
  expect_archive_on_disk(cwd_.path(), server_.port(), "qv", days);
}

TEST_F(ThroughComicsServer, AWriteThatFailsEndsTheRunAndLeavesNoPartialStrip) {
  for (const char* connections : {"/connections=1", "/connections=4"}) {
    run_options options = in_dir(cwd_.path());
    options.file_size_limit = 4096;  // every strip is larger
    const auto result = run(QUORVEL_BIN, {proxy(), "/verbatim=N", connections}, options);
    EXPECT_EQ(result.exit_code, 1) << connections;
    EXPECT_TRUE(std::regex_search(
        result.out, std::regex("\nException EWriteError in module quorvel at [0-9A-F]{16}\\.\n"
                               "Stream write error\\. File too large\\.\n$")))
        << connections << "\n" << result.out;
    EXPECT_TRUE(testing_support::list_dir(cwd_.path()).empty()) << connections;
  }
}

TEST_F(ThroughComicsServer, ATargetDirectoryThatDoesNotExistEndsTheRun) {
  const auto result = run(QUORVEL_BIN, {proxy(), "/target=nosuch\\dir", "/verbatim=N"},
                          in_dir(cwd_.path()));
  EXPECT_EQ(result.exit_code, 1);
  const auto oldest = archive_of(server_.port(), "comics/quorvel").back();
  ASSERT_EQ(result.out.substr(0, banner.size()), banner);
  EXPECT_TRUE(std::regex_match(
      result.out.substr(banner.size()),
      std::regex(std::string("Exception EFCreateError in module quorvel at [0-9A-F]{16}\\.\n") +
                 "Cannot create file \"NOSUCH\\\\DIR\\\\qv" + oldest.ymd.substr(2) +
                 "\\.gif\"\\. No such file or directory\\.\n")))
      << result.out;
  EXPECT_TRUE(testing_support::list_dir(cwd_.path()).empty());
}

TEST(LongArchive, EveryStripUnderItsOwnDateAcrossYears) {
  // More than two years, 29 February 2024 among them.
  server_process server(COMICS_SERVER_BIN,
                        {"--listen", "127.0.0.1:0", "--days", "800", "--today", "2024-12-31"});
  ASSERT_TRUE(server.started());
  const auto calendar = testing_support::fetch(server.port(), "/comics/quorvel/archive/");
  std::vector<std::string> expected;
  for (const auto& ymd : matches(calendar.body, "<option value=\"/comics/quorvel/archive/cal-([0-9]{8})\\.html\""))
    expected.push_back("qv" + ymd.substr(2) + ".gif");
  ASSERT_EQ(expected.size(), 800u);
  std::sort(expected.begin(), expected.end());

  temp_dir cwd;
  const auto result = run(QUORVEL_BIN,
                          {"/proxy=127.0.0.1:" + std::to_string(server.port()), "/verbatim=N"},
                          in_dir(cwd.path()));
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(testing_support::list_dir(cwd.path()), expected);
  for (const std::string ymd : {"20240229", "20230101"}) {
    const auto page = testing_support::fetch(server.port(), "/comics/quorvel/archive/cal-" + ymd + ".html");
    const auto images = matches(page.body, "(/comics/quorvel/archive/images/[^\"]+\\.gif)");
    ASSERT_FALSE(images.empty()) << ymd;
    EXPECT_EQ(read_file(cwd / ("qv" + ymd.substr(2) + ".gif")),
              testing_support::fetch(server.port(), images.front()).body)
        << ymd;
  }
}

TEST(ProxyErrors, AProxyHostThatCannotBeResolvedEndsTheRun) {
  temp_dir cwd;
  // Two dots in a row: refused by the resolver itself, no name server asked.
  const auto result = run(QUORVEL_BIN, {"/proxy=no..such..proxy:3128"}, in_dir(cwd.path()));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(testing_support::masked(result.out),
            banner + "Exception E_TcpIpError in module quorvel at ################.\n"
                     "Couldn't resolve hostname no..such..proxy.\n");
  EXPECT_TRUE(testing_support::list_dir(cwd.path()).empty());
}

// A one-day archive on a scripted server that stands as proxy and records
// every request.
class ScriptedArchive : public testing::Test {
 protected:
  void SetUp() override {
    server_.route("/comics/quorvel/archive/",
                  scripted_answer::http("HTTP/1.0 200 OK", {},
                                        "<option value=\"/comics/quorvel/archive/cal-1.html\">" +
                                            today("%b. %d, %Y") + "\r\n"));
    server_.route("/comics/quorvel/archive/cal-1.html",
                  scripted_answer::http("HTTP/1.0 200 OK", {},
                                        "<img src=\"/comics/quorvel/archive/images/1.gif\">\r\n"));
    const std::string strip = testing_support::tiny_gif("1");
    server_.route("/comics/quorvel/archive/images/1.gif",
                  scripted_answer::http("HTTP/1.0 200 OK",
                                        {"Content-Length: " + std::to_string(strip.size())}, strip));
  }

  // Today by one reading of the clock, as the calendar writes it ("Dec. 07,
  // 2026") and as the strip file names it ("qv261207.gif"): a run past
  // midnight finds the day behind its clock all the same.
  std::string today(const char* format) const {
    std::tm local{};
    localtime_r(&now_, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
  }

  std::vector<std::string> run_with(std::vector<std::string> args) {
    args.push_back("/proxy=" + server_.address());
    const auto result = run(QUORVEL_BIN, args, in_dir(cwd_.path()));
    EXPECT_EQ(result.exit_code, 0) << result.out;
    EXPECT_EQ(testing_support::list_dir(cwd_.path()).size(), 1u);
    return server_.requests();
  }

  const std::time_t now_ = std::time(nullptr);
  scripted_server server_;
  temp_dir cwd_;
};

TEST_F(ScriptedArchive, OmitProxyAsksForFreshCopiesOfEveryRequestElseOfTheCalendarOnly) {
  for (const bool omit : {true, false}) {
    const auto requests = run_with({omit ? "/omit_proxy" : "/omit_proxy=N"});
    fs::remove(cwd_ / today("qv%y%m%d.gif"));
    ASSERT_EQ(requests.size(), omit ? 3u : 6u);  // the requests of both runs
    // The calendar first; the exact request bytes are the archive suite's.
    const std::string calendar = "GET " + base_url + "/comics/quorvel/archive/ HTTP/1.0\r\n";
    EXPECT_EQ(requests[requests.size() - 3].rfind(calendar, 0), 0u);
    for (std::size_t i = requests.size() - 3; i < requests.size(); ++i) {
      const bool fresh = omit || i == 3;
      const char* look_for = fresh ? "\r\nPragma: no-cache\r\n" : "Pragma";
      EXPECT_EQ(requests[i].find(look_for) != std::string::npos, fresh) << requests[i];
    }
  }
}

// An empty target is the current directory, and so is a drive alone: "c:"
// stays "C:", to which the names are appended, and a drive means nothing here.
TEST_F(ScriptedArchive, AnEmptyTargetOrADriveAloneWritesIntoTheCurrentDirectory) {
  const std::string whole_gif("GIF89a\x01\x00\x01\x00\x00\x00\x00\x2C\x00\x00\x00\x00\x01\x00"
                              "\x01\x00\x00\x02\x02\x44\x01\x00\x3B",
                              29);
  server_.route("/comics/quorvel/archive/images/1.gif",
                scripted_answer::http("HTTP/1.0 200 OK", {}, whole_gif));
  const std::string strip = today("qv%y%m%d.gif");
  for (const char* target : {"/target=", "/target=c:", "/target=C:"}) {
    run_with({target});
    EXPECT_EQ(testing_support::list_dir(cwd_.path()), std::vector<std::string>{strip})
        << target;
    EXPECT_EQ(read_file(cwd_ / strip), whole_gif) << target;
    fs::remove(cwd_ / strip);
  }
}

}  // namespace
