// The built comics-server on loopback: the archive scan's own parsers find
// its days and strips, its strips decode, and it keeps serving through bad
// requests, silent clients and signals.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/archive.hpp"
#include "app/comics.hpp"
#include "server/strip_gif.hpp"
#include "tests/support/gif_decode.hpp"
#include "tests/support/tiny_gif.hpp"
#include "tests/support/http_fetch.hpp"
#include "tests/support/run.hpp"
#include "tests/support/server_process.hpp"

namespace {

using testing_support::fetch;
using testing_support::fetch_raw;
using testing_support::http_answer;
using testing_support::loopback_client;
using testing_support::server_process;

std::vector<std::string> with_listen(std::vector<std::string> args) {
  args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
  return args;
}

// The catalogue's row of the comic named `key`.
std::uint8_t comic(std::string_view key) {
  for (std::size_t i = 0; i < app::Comics.size(); ++i)
    if (app::Comics[i].Key == key) return static_cast<std::uint8_t>(i);
  ADD_FAILURE() << "no comic " << key;
  return 0;
}

// A body as the client leaves it: read from its first byte.
void load(platform::TMemoryStream& stream, const std::string& body) {
  stream.Write(body.data(), body.size());
  stream.Seek(0, platform::soBeginning);
}

struct calendar_entry {
  std::string path;
  std::string date;  // "yyyymmdd"
};

// The calendar entries the archive scan takes from `body`, in the page's order.
std::vector<calendar_entry> scan_calendar(const std::string& body, std::string_view key) {
  platform::TMemoryStream stream;
  load(stream, body);
  platform::TStringList days(true);
  app::ReadCalendar(comic(key), stream, days);
  std::vector<calendar_entry> entries;
  for (int i = days.Count() - 1; i >= 0; --i) {
    int year = 0, month = 0, day = 0;
    platform::DecodeDate(dynamic_cast<app::TDateObj*>(days.Objects(i))->FDate, year, month, day);
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", year, month, day);
    entries.push_back({days[i], date});
  }
  return entries;
}

// The image names the archive scan takes from a day page, in the page's order.
std::vector<std::string> scan_day_page(const std::string& body, std::string_view key) {
  platform::TMemoryStream stream;
  load(stream, body);
  platform::TStringList images(true);
  app::ReadDayPage(comic(key), stream, app::TDateObj(), images);
  std::vector<std::string> names;
  for (int i = images.Count() - 1; i >= 0; --i) names.push_back(images[i]);
  return names;
}

class ComicsServer : public testing::Test {
 protected:
  std::unique_ptr<server_process> start(std::vector<std::string> args) {
    auto server = std::make_unique<server_process>(COMICS_SERVER_BIN, with_listen(std::move(args)));
    EXPECT_TRUE(server->started()) << "first line: " << server->first_line() << "\n" << server->err();
    return server;
  }
};

struct calendar_case {
  const char* reason;
  std::vector<std::string> args;
  std::vector<std::string> dates;  // newest first
};

void PrintTo(const calendar_case& row, std::ostream* out) { *out << row.reason; }

class CalendarDates : public ComicsServer, public testing::WithParamInterface<calendar_case> {};

TEST_P(CalendarDates, EntriesMatchTheScanPatternsNewestFirst) {
  const calendar_case& row = GetParam();
  auto server = start(row.args);
  const http_answer calendar = fetch(server->port(), "/comics/quorvel/archive/");
  ASSERT_EQ(calendar.status, 200) << row.reason;
  const auto entries = scan_calendar(calendar.body, "quorvel");
  ASSERT_EQ(entries.size(), row.dates.size()) << row.reason;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].date, row.dates[i]) << row.reason;
    EXPECT_EQ(entries[i].path, "/comics/quorvel/archive/cal-" + row.dates[i] + ".html") << row.reason;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ComicsServer, CalendarDates,
    testing::Values(
        calendar_case{"across the end of February in a leap year",
                      {"--today", "2024-03-02", "--days", "4"},
                      {"20240302", "20240301", "20240229", "20240228"}},
        calendar_case{"across the end of a year",
                      {"--today", "2024-01-02", "--days", "4"},
                      {"20240102", "20240101", "20231231", "20231230"}},
        calendar_case{"May keeps its three letters and the dot",
                      {"--today", "2024-05-09", "--days", "1"},
                      {"20240509"}},
        calendar_case{"no archived days", {"--today", "2024-05-09", "--days", "0"}, {}}));

TEST_F(ComicsServer, ThirtyDaysByDefaultEndingToday) {
  auto server = start({"--today", "2024-02-10"});
  const auto entries = scan_calendar(fetch(server->port(), "/comics/quorvel/archive/").body, "quorvel");
  ASSERT_EQ(entries.size(), 30u);
  EXPECT_EQ(entries.front().date, "20240210");
  EXPECT_EQ(entries.back().date, "20240112");
}

TEST_F(ComicsServer, WithoutTodayTheNewestDayIsTheLocalDate) {
  auto server = start({"--days", "1"});
  const auto entries = scan_calendar(fetch(server->port(), "/comics/quorvel/archive/").body, "quorvel");
  ASSERT_EQ(entries.size(), 1u);
  const std::time_t now = std::time(nullptr);
  char today[16];
  std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
  char yesterday_or_today[16];
  const std::time_t earlier = now - 60;  // the server may have read its clock just before midnight
  std::strftime(yesterday_or_today, sizeof yesterday_or_today, "%Y%m%d", std::localtime(&earlier));
  const std::string& shown = entries[0].date;
  EXPECT_TRUE(shown == today || shown == yesterday_or_today) << shown;
}

TEST_F(ComicsServer, PartnerComicLivesUnderItsOwnSection) {
  auto server = start({"--today", "2024-03-05", "--days", "3"});
  const auto entries = scan_calendar(fetch(server->port(), "/partner/owlfred/archive/").body, "owlfred");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].path, "/partner/owlfred/archive/cal-20240305.html");
  const http_answer day = fetch(server->port(), entries[0].path);
  ASSERT_EQ(day.status, 200);
  const auto images = scan_day_page(day.body, "owlfred");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(fetch(server->port(), "/partner/owlfred/archive/images/" + images[0]).status, 200);
}

TEST_F(ComicsServer, WeekdayPageNamesOneStripThatDecodesToTheStripSize) {
  auto server = start({"--today", "2024-03-05", "--days", "5"});  // a Tuesday
  const auto entries = scan_calendar(fetch(server->port(), "/comics/quorvel/archive/").body, "quorvel");
  ASSERT_FALSE(entries.empty());
  const http_answer day = fetch(server->port(), entries[0].path);
  ASSERT_EQ(day.status, 200);
  EXPECT_EQ(day.header("content-type"), "text/html");
  const auto images = scan_day_page(day.body, "quorvel");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0], "quorvel-20240305.gif");

  const http_answer strip = fetch(server->port(), "/comics/quorvel/archive/images/" + images[0]);
  ASSERT_EQ(strip.status, 200);
  EXPECT_EQ(strip.header("content-type"), "image/gif");
  EXPECT_EQ(strip.header("content-length"), std::to_string(strip.body.size()));
  EXPECT_GE(strip.body.size(), 10u * 1024);
  EXPECT_LE(strip.body.size(), 40u * 1024);
  const auto facts = testing_support::decode_gif(strip.body);
  ASSERT_TRUE(facts.ok);
  EXPECT_EQ(facts.width, server::strip_width);
  EXPECT_EQ(facts.height, server::strip_height);
  EXPECT_EQ(facts.images, 1);
}

TEST_F(ComicsServer, SundayPageNamesTheStripFirstAndASmallerSecondImage) {
  auto server = start({"--today", "2024-03-03", "--days", "2"});  // a Sunday
  const http_answer day = fetch(server->port(), "/comics/quorvel/archive/cal-20240303.html");
  ASSERT_EQ(day.status, 200);
  const auto images = scan_day_page(day.body, "quorvel");
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0], "quorvel-20240303.gif");

  const http_answer strip = fetch(server->port(), "/comics/quorvel/archive/images/" + images[0]);
  const http_answer second = fetch(server->port(), "/comics/quorvel/archive/images/" + images[1]);
  ASSERT_EQ(strip.status, 200);
  ASSERT_EQ(second.status, 200);
  const auto strip_facts = testing_support::decode_gif(strip.body);
  const auto second_facts = testing_support::decode_gif(second.body);
  ASSERT_TRUE(strip_facts.ok);
  ASSERT_TRUE(second_facts.ok);
  EXPECT_EQ(strip_facts.width, server::strip_width);
  EXPECT_LT(second_facts.width, strip_facts.width);
  EXPECT_LT(second_facts.height, strip_facts.height);
  EXPECT_LT(second.body.size(), strip.body.size());

  // The Saturday before has a single image.
  const http_answer saturday = fetch(server->port(), "/comics/quorvel/archive/cal-20240302.html");
  EXPECT_EQ(scan_day_page(saturday.body, "quorvel").size(), 1u);
}

TEST_F(ComicsServer, AnswersAreHttp10WithTypeAndLengthAndTheConnectionCloses) {
  auto server = start({"--today", "2024-03-05"});
  for (const char* target : {"/comics/quorvel/archive/", "/comics/quorvel/archive/cal-20240305.html",
                             "/comics/quorvel/archive/images/quorvel-20240305.gif", "/no/such/page"}) {
    const http_answer answer = fetch(server->port(), target);
    EXPECT_TRUE(answer.closed) << target;
    EXPECT_EQ(answer.raw.rfind("HTTP/1.0 ", 0), 0u) << target;
    EXPECT_EQ(answer.headers.count("content-type"), 1u) << target;
    EXPECT_EQ(answer.header("content-length"), std::to_string(answer.body.size())) << target;
  }
}

TEST_F(ComicsServer, HeadAnswersTheHeaderWithoutTheBody) {
  auto server = start({"--today", "2024-03-05"});
  const http_answer get = fetch(server->port(), "/comics/quorvel/archive/");
  const http_answer head = fetch_raw(server->port(), "HEAD /comics/quorvel/archive/ HTTP/1.0\r\n\r\n");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("content-length"), std::to_string(get.body.size()));
  EXPECT_TRUE(head.body.empty());
}

// Other hosts and schemes in capitals are http_exchange's rows.
TEST_F(ComicsServer, AbsoluteFormIsServedLikeOriginForm) {
  auto server = start({"--today", "2024-03-05"});
  const std::string port = std::to_string(server->port());
  const http_answer origin = fetch(server->port(), "/comics/quorvel/archive/");
  ASSERT_EQ(origin.status, 200);
  // As quorvel sends it, directly or through a proxy.
  const http_answer own = fetch_raw(
      server->port(), "GET http://localhost:" + port +
                          "/comics/quorvel/archive/ HTTP/1.0\r\nHost: localhost\r\n"
                          "Pragma: no-cache\r\nAccept: */*\r\n\r\n");
  EXPECT_EQ(own.status, 200);
  EXPECT_EQ(own.body, origin.body);
}

// Which requests are refused is the server units' (http_exchange, comic_site);
// here each kind of refusal on the wire, and the server serving on.
TEST_F(ComicsServer, BadRequestsAreAnsweredAndTheServerStillServes) {
  struct bad_request {
    const char* reason;
    std::string bytes;
    bool finish_sending;  // end the request stream after the bytes
    int status;
  };
  const std::vector<bad_request> rows = {
      {"unknown comic", "GET /comics/nosuch/archive/ HTTP/1.0\r\n\r\n", false, 404},
      {"no request line at all", "garbage\r\n\r\n", false, 400},
      {"cut off before the empty line", "GET /comics/quorvel/archive/ HTTP/1.0\r\nHost: x\r\n", true, 400},
      {"a head beyond the size limit", "GET /" + std::string(20000, 'a') + " HTTP/1.0\r\n", false, 400},
      {"a method the site does not serve", "POST /comics/quorvel/archive/ HTTP/1.0\r\n\r\n", false, 405},
  };
  auto server = start({"--today", "2024-03-05"});
  for (const bad_request& row : rows) {
    loopback_client client(server->port());
    ASSERT_TRUE(client.send(row.bytes)) << row.reason;
    if (row.finish_sending) client.finish_sending();
    const http_answer answer = client.receive();
    EXPECT_TRUE(answer.closed) << row.reason;
    EXPECT_EQ(answer.status, row.status) << row.reason;
    EXPECT_EQ(answer.header("content-type"), "text/html") << row.reason;
    EXPECT_NE(answer.body.find("<html>"), std::string::npos) << row.reason;
    EXPECT_EQ(fetch(server->port(), "/comics/quorvel/archive/").status, 200) << "after " << row.reason;
  }
}

TEST_F(ComicsServer, ASilentClientHoldsUpNoOther) {
  // The time limit is far beyond the fetch's own, so a server that waited for
  // the silent client before serving the next would fail this test.
  auto server = start({"--today", "2024-03-05", "--timeout", "600"});
  loopback_client silent(server->port());
  ASSERT_TRUE(silent.connected());
  const http_answer other = fetch(server->port(), "/comics/quorvel/archive/");
  EXPECT_EQ(other.status, 200);
  EXPECT_TRUE(other.closed);
  // The first client is still served once it speaks.
  ASSERT_TRUE(silent.send("GET /comics/quorvel/archive/ HTTP/1.0\r\n\r\n"));
  EXPECT_EQ(silent.receive().status, 200);
}

// Connections that send part of a head, or nothing, and then wait.
std::vector<std::unique_ptr<loopback_client>> slow_clients(std::uint16_t port, int count) {
  std::vector<std::unique_ptr<loopback_client>> clients;
  for (int i = 0; i < count; ++i) {
    clients.push_back(std::make_unique<loopback_client>(port));
    if (i % 2 == 0) clients.back()->send("GET /comics/quorvel/archive/ HTTP/1.0\r\nHost: loc");
  }
  return clients;
}

TEST_F(ComicsServer, HundredsOfSlowClientsHoldUpNoOther) {
  auto server = start({"--today", "2024-03-05", "--timeout", "600"});
  const auto slow = slow_clients(server->port(), 300);
  for (const auto& client : slow) ASSERT_TRUE(client->connected());
  // Far less than the slow clients' time limit: a server that needs a slot
  // of theirs answers only when the fetch has given up.
  const http_answer normal =
      testing_support::fetch_raw(server->port(), "GET /comics/quorvel/archive/ HTTP/1.0\r\n\r\n", 20);
  EXPECT_TRUE(normal.closed);
  EXPECT_EQ(normal.status, 200);
  int dropped = 0;
  for (const auto& client : slow) dropped += client->wait_for_server(0) ? 1 : 0;
  EXPECT_EQ(dropped, 0) << "slow clients are kept while there is room";
}

TEST_F(ComicsServer, SlowClientsAreCutOffWhenTheirTimeIsUp) {
  auto server = start({"--today", "2024-03-05", "--timeout", "1"});
  const auto slow = slow_clients(server->port(), 300);
  for (std::size_t i = 0; i < slow.size(); ++i) {
    ASSERT_TRUE(slow[i]->connected());
    const http_answer answer = slow[i]->receive(30);
    ASSERT_TRUE(answer.closed) << "client " << i;
    ASSERT_EQ(answer.status, 408) << "client " << i;
  }
  EXPECT_EQ(fetch(server->port(), "/comics/quorvel/archive/").status, 200);
}

TEST_F(ComicsServer, AHeadTrickledByteByByteIsCutOffAtTheTimeLimit) {
  auto server = start({"--timeout", "1"});
  loopback_client slow(server->port());
  // Each pause is short, the whole far longer than the time limit.
  const std::string endless = "GET /comics/quorvel/archive/ HTTP/1.0\r\nX-Slow: " + std::string(400, 'a');
  std::size_t sent = 0;
  while (sent < endless.size() && !slow.wait_for_server(50)) {
    ASSERT_TRUE(slow.send(endless.substr(sent, 1)));
    ++sent;
  }
  ASSERT_LT(sent, endless.size()) << "the head was never cut off";
  const http_answer answer = slow.receive(30);
  EXPECT_TRUE(answer.closed);
  EXPECT_EQ(answer.status, 408);
}

TEST_F(ComicsServer, TheSameStripHasTheSameBytesInEveryRun) {
  const std::string target = "/comics/quorvel/archive/images/quorvel-20240305.gif";
  std::string first;
  {
    auto server = start({"--today", "2024-03-05"});
    first = fetch(server->port(), target).body;
  }
  auto server = start({"--today", "2024-03-07"});
  const http_answer second = fetch(server->port(), target);
  ASSERT_EQ(second.status, 200);
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(second.body, first);
  EXPECT_NE(fetch(server->port(), "/comics/quorvel/archive/images/quorvel-20240306.gif").body, first);
}

class StopSignal : public ComicsServer, public testing::WithParamInterface<int> {};

TEST_P(StopSignal, StopsCleanlyWithAnIdleClientConnected) {
  auto server = start({"--timeout", "600"});
  loopback_client idle(server->port());
  ASSERT_TRUE(idle.connected());
  // Served after the idle connection was taken, so that one is being waited on.
  ASSERT_EQ(fetch(server->port(), "/").status, 200);
  EXPECT_EQ(server->stop(GetParam()), 0) << server->err();
  EXPECT_TRUE(idle.receive().closed);
}

INSTANTIATE_TEST_SUITE_P(ComicsServer, StopSignal, testing::Values(SIGINT, SIGTERM));

TEST_F(ComicsServer, LogHasOneLinePerRequest) {
  auto server = start({"--today", "2024-03-05", "--log"});
  const http_answer calendar = fetch(server->port(), "/comics/quorvel/archive/");
  fetch(server->port(), "/nothing/here");
  fetch_raw(server->port(), "garbage\r\n\r\n");
  ASSERT_EQ(server->stop(), 0);
  const std::string log = server->err();
  EXPECT_NE(log.find("GET /comics/quorvel/archive/ 200 " + std::to_string(calendar.body.size()) + "\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("GET /nothing/here 404 "), std::string::npos) << log;
  EXPECT_NE(log.find("- - 400 "), std::string::npos) << log;
}

TEST_F(ComicsServer, HelpDescribesTheOptionsAndVersionIsOneLineAndServesNothing) {
  const auto help = testing_support::run(COMICS_SERVER_BIN, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* option : {"--listen HOST:PORT", "--days N", "--today YYYY-MM-DD", "--log",
                             "--timeout SECONDS", "--version", "--help"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  const auto version = testing_support::run(COMICS_SERVER_BIN, {"--listen", "127.0.0.1:0", "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "comics-server (quorvel) " QUORVEL_VERSION "\n");
  EXPECT_TRUE(version.err.empty()) << version.err;
}

TEST_F(ComicsServer, TheStartLineNamesTheArchivedDays) {
  auto server = start({"--today", "2024-03-05", "--days", "2"});
  ASSERT_EQ(server->stop(), 0);
  EXPECT_NE(server->out().find("(2024-03-05 and 1 day before)"), std::string::npos) << server->out();
}

// Which options are refused is the options suite's; here what a refusal does.
TEST_F(ComicsServer, ABadOptionEndsWithCodeTwoAndSaysWhy) {
  const auto result = testing_support::run(COMICS_SERVER_BIN, {"--days", "many"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_NE(result.err.find("comics-server: "), std::string::npos) << result.err;
  EXPECT_TRUE(result.out.empty()) << result.out;
}

TEST_F(ComicsServer, APortInUseEndsWithCodeOne) {
  auto server = start({});
  const auto result = testing_support::run(
      COMICS_SERVER_BIN, {"--listen", "127.0.0.1:" + std::to_string(server->port())});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("cannot listen"), std::string::npos) << result.err;
}

// A folder as quorvel writes it, with what must not show: a link out of the
// folder, a date that does not exist, other files.
TEST_F(ComicsServer, AnArchiveFolderIsShownAsTheSiteAndOnlyRead) {
  testing_support::temp_dir folder;
  testing_support::temp_dir elsewhere;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"tu240301.gif", testing_support::tiny_gif("1")}, {"tu240303.gif", testing_support::tiny_gif("3")},
      {"TU240305.GIF", testing_support::tiny_gif("5")}, {"dk240302.gif", testing_support::tiny_gif("dk")},
      {"qv991231.gif", testing_support::tiny_gif("q")}, {"tu240230.gif", testing_support::tiny_gif("x")},
      {"notes.txt", "not a strip"}};
  for (const auto& [name, bytes] : files) testing_support::write_file(folder / name, bytes);
  testing_support::write_file(elsewhere / "secret", "outside");
  std::filesystem::create_symlink(elsewhere / "secret", folder / "tu240304.gif");
  const auto before = testing_support::list_dir(folder.path());

  ASSERT_NE(testing_support::run(COMICS_SERVER_BIN, with_listen({"--archive", elsewhere / "none"})).exit_code, 0);
  auto server = start({"--archive", folder.path(), "--today", "2024-03-10"});
  const auto port = server->port();
  const std::string home = fetch(port, "/").body;
  for (const char* shown : {"/comics/tundra/archive/", "/comics/dustykid/archive/", "/comics/quorvel/archive/"})
    EXPECT_NE(home.find(shown), std::string::npos) << shown;
  EXPECT_EQ(home.find("/comics/jobble/"), std::string::npos) << "no strips, not shown";
  EXPECT_EQ(fetch(port, "/comics/marvels/archive/").status, 404) << "dk strips are Dusty Kid's";

  std::vector<std::string> days;
  for (const auto& entry : scan_calendar(fetch(port, "/comics/tundra/archive/").body, "tundra"))
    days.push_back(entry.date);
  EXPECT_EQ(days, (std::vector<std::string>{"20240305", "20240303", "20240301"}));
  EXPECT_EQ(scan_calendar(fetch(port, "/comics/quorvel/archive/").body, "quorvel").at(0).date, "19991231")
      << "the century that is no later than today";

  const std::string day = fetch(port, "/comics/tundra/archive/cal-20240303.html").body;
  for (const char* nav : {"cal-20240301.html\">First", "cal-20240301.html\">Previous",
                          "cal-20240305.html\">Next", "cal-20240305.html\">Latest"})
    EXPECT_NE(day.find(nav), std::string::npos) << nav;
  EXPECT_EQ(fetch(port, "/comics/tundra/archive/images/tundra-20240303.gif").body, files[1].second);
  EXPECT_EQ(fetch(port, "/comics/tundra/archive/images/tundra-20240305.gif").body, files[2].second);
  EXPECT_EQ(fetch(port, "/comics/tundra/archive/images/tundra-20240304.gif").status, 404) << "a link out";
  EXPECT_EQ(fetch(port, "/comics/tundra/archive/cal-20240304.html").status, 404);
  EXPECT_EQ(fetch(port, "/comics/tundra/archive/images/../../../../etc/passwd").status, 404);
  const http_answer random = fetch(port, "/comics/tundra/archive/random");
  EXPECT_EQ(random.status, 303);
  EXPECT_EQ(fetch(port, random.header("location")).status, 200) << random.header("location");
  EXPECT_EQ(server->stop(), 0);

  EXPECT_EQ(testing_support::list_dir(folder.path()), before);
  for (const auto& [name, bytes] : files) EXPECT_EQ(testing_support::read_file(folder / name), bytes) << name;
}

// The feeds are well-formed XML, titles with "&" included.
TEST_F(ComicsServer, FeedsNameTheLatestStripsAndAreWellFormed) {
  auto server = start({"--today", "2024-03-05", "--days", "40"});
  const http_answer feed = fetch(server->port(), "/comics/bennywren/archive/feed.atom");
  ASSERT_EQ(feed.status, 200);
  EXPECT_EQ(feed.header("content-type"), "application/atom+xml");
  std::size_t entries = 0;
  for (const std::string& line : testing_support::lines_of(feed.body)) entries += line == "<entry>" ? 1 : 0;
  EXPECT_EQ(entries, 30u);
  EXPECT_NE(feed.body.find("<link rel=\"alternate\" type=\"text/html\" href=\"/comics/bennywren/archive/cal-20240305.html\"/>"),
            std::string::npos);
  EXPECT_NE(fetch(server->port(), "/comics/bennywren/archive/cal-20240305.html")
                .body.find("<link rel=\"alternate\" type=\"application/atom+xml\" title=\"Benny &amp; Wren\" "
                           "href=\"/comics/bennywren/archive/feed.atom\">"),
            std::string::npos);
  if (std::string(XMLLINT_BIN).empty()) GTEST_SKIP() << "xmllint is not installed: well-formedness not checked";
  testing_support::temp_dir scratch;
  testing_support::write_file(scratch / "feed.atom", feed.body);
  const auto lint = testing_support::run(XMLLINT_BIN, {"--noout", scratch / "feed.atom"});
  EXPECT_EQ(lint.exit_code, 0) << lint.err;
}

}  // namespace
