// What a run of the built quorvel leaves and says when the server or proxy
// misbehaves: only whole strips on disk, the other days still fetched, and an
// error report with exit code 1 that names the first failed address and why.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/support/report.hpp"
#include "tests/support/run.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/tiny_gif.hpp"

namespace {

using namespace std::chrono_literals;
using testing_support::banner;
using testing_support::main_task;
using testing_support::masked;
using testing_support::scripted_answer;
using testing_support::scripted_server;
using testing_support::temp_dir;
using ending = scripted_answer::ending;

// The report of the program with the short time limit.
std::string report(const std::string& message) {
  return testing_support::report(message, "short_limit_prog");
}

const std::string base_url = QUORVEL_BASE_URL;
const std::string archive = "/comics/quorvel/archive/";

// A day before today: as the calendar writes it ("Dec. 07, 2026") and as the
// strip file names it ("qv261207.gif"). Days before today keep their date
// however long the test runs.
std::string day_text(int days_ago, const char* format) {
  std::time_t now = std::time(nullptr) - days_ago * 86400L;
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}
std::string calendar_text(int days_ago) { return day_text(days_ago, "%b. %d, %Y"); }
std::string strip_file(int days_ago) { return day_text(days_ago, "qv%y%m%d.gif"); }

scripted_answer ok(const std::string& body) {
  return scripted_answer::http("HTTP/1.0 200 OK", {}, body);
}

const std::string strip_1 = testing_support::tiny_gif("one day ago");
const std::string strip_2 = testing_support::tiny_gif("two days ago");

// A scripted archive of two days behind the proxy: a fault in the first day's
// strip leaves the second day's strip to be fetched all the same.
struct archive_server {
  scripted_server server;

  explicit archive_server(scripted_answer strip_1_answer) {
    server.route(archive, ok("<option value=\"" + archive + "cal-1.html\">" + calendar_text(1) +
                             "\r\n<option value=\"" + archive + "cal-2.html\">" +
                             calendar_text(2) + "\r\n"));
    server.route(archive + "cal-1.html", ok("<img src=\"" + archive + "images/1.gif\">\r\n"));
    server.route(archive + "cal-2.html", ok("<img src=\"" + archive + "images/2.gif\">\r\n"));
    server.route(archive + "images/1.gif", std::move(strip_1_answer));
    server.route(archive + "images/2.gif", ok(strip_2));
  }
};

struct run_outcome {
  testing_support::run_result result;
  std::vector<std::string> files;  // in the target, hidden ones too
};

// Runs the program (with a short time limit) through `proxy` into a fresh
// target directory. The limit is short enough for the rows of silence, and
// long enough that a loaded machine answers every other request within it.
run_outcome run_quorvel(const std::string& proxy) {
  temp_dir target;
  testing_support::run_options options;
  options.cwd = target.path();
  options.set_env["QUORVEL_TEST_LIMIT_MS"] = "1500";
  options.timeout_seconds = 60;
  run_outcome outcome;
  outcome.result = testing_support::run(SHORT_LIMIT_PROG_BIN,
                                        {"/verbatim=N", "/proxy=" + proxy}, options);
  outcome.files = testing_support::list_dir(target.path());
  for (const std::string& name : outcome.files) {
    if (name != strip_file(2)) continue;
    EXPECT_EQ(testing_support::read_file(target / name), strip_2) << "the whole strip";
  }
  return outcome;
}

struct strip_fault_row {
  scripted_answer answer;
  const char* reason;
  const char* why;
};

class StripFault : public testing::TestWithParam<strip_fault_row> {};

TEST_P(StripFault, LeavesNoFileFetchesTheOtherDaysAndEndsWithTheReport) {
  archive_server archive_site(GetParam().answer);
  const auto outcome = run_quorvel(archive_site.server.address());
  EXPECT_EQ(outcome.files, std::vector<std::string>{strip_file(2)}) << GetParam().why;
  EXPECT_EQ(masked(outcome.result.out),
            banner + report("Error # 2031 /failed=1/url=" + base_url + archive + "images/1.gif" +
                            "/proxy=" + archive_site.server.address() + "/reason=" +
                            GetParam().reason + main_task))
      << GetParam().why;
  EXPECT_EQ(outcome.result.exit_code, 1) << GetParam().why << "\n" << outcome.result.err;
}

const std::string body_of_strip_1 = strip_1 + std::string(20000, '\0');

INSTANTIATE_TEST_SUITE_P(
    Faults, StripFault,
    testing::Values(
        strip_fault_row{ok(body_of_strip_1).in_pieces(4096).cut_after(10000).then(ending::reset),
                        "transfer failed", "a reset in the middle of the body"},
        strip_fault_row{ok(body_of_strip_1).cut_after(5000).then(ending::silent),
                        "timed out", "half the body, then silence"},
        strip_fault_row{scripted_answer::silent(), "timed out",
                        "a server that accepts and never answers"},
        strip_fault_row{ok(body_of_strip_1).in_pieces(1).paced(40ms), "timed out",
                        "a trickle that never lets one receive give up"},
        strip_fault_row{ok(strip_1).then(ending::endless), "body too large", "an endless body"},
        strip_fault_row{scripted_answer::http("HTTP/1.0 200 OK", {"Content-Length: 12abc"}, strip_1),
                        "malformed header line", "no conversion error ends the run"},
        strip_fault_row{scripted_answer::http("HTTP/1.0 403 Forbidden", {}, "no"), "status 403",
                        "a refused image is a failure, not a missing one"},
        strip_fault_row{ok("<html><body>Sorry, we are closed</body></html>"), "no whole GIF",
                        "a page answered with success"},
        strip_fault_row{ok(strip_1.substr(0, strip_1.size() - 1)), "no whole GIF",
                        "a GIF cut short, with an orderly close"},
        strip_fault_row{scripted_answer::http("HTTP/1.0 200 OK",
                                              {"Content-Length: " +
                                               std::to_string(strip_1.size() + 1)},
                                              strip_1),
                        "transfer cut short", "short of its Content-Length"},
        strip_fault_row{scripted_answer::http("HTTP/1.0 502 Bad Gateway", {}, "<html>502</html>"),
                        "status 502", "a proxy's error page"}));

TEST(StripFault, AStripThatIsNotThereIsNoFailure) {
  archive_server archive_site(
      scripted_answer::http("HTTP/1.0 404 Not Found", {}, "<html>not here</html>"));
  const auto outcome = run_quorvel(archive_site.server.address());
  EXPECT_EQ(outcome.files, std::vector<std::string>{strip_file(2)});
  EXPECT_EQ(outcome.result.out, banner);
  EXPECT_EQ(outcome.result.exit_code, 0);
}

TEST(StripFault, AWholeRunEndsInOrderAndTheNextAsksOnlyForTheCalendar) {
  archive_server archive_site(ok(strip_1));
  temp_dir target;
  testing_support::run_options options;
  options.cwd = target.path();
  for (int run = 0; run < 2; ++run) {
    const auto result =
        testing_support::run(QUORVEL_BIN, {"/proxy=" + archive_site.server.address()}, options);
    EXPECT_EQ(result.exit_code, 0) << result.out;
  }
  EXPECT_EQ(testing_support::read_file(target / strip_file(1)), strip_1);
  EXPECT_EQ(testing_support::read_file(target / strip_file(2)), strip_2);
  EXPECT_EQ(archive_site.server.targets().size(), 5u + 1u);
}

TEST(DayPageFault, AServerErrorForOneDayLeavesTheOthersToBeFetched) {
  archive_server archive_site(ok(strip_1));
  archive_site.server.route(archive + "cal-2.html",
                            scripted_answer::http("HTTP/1.0 503 Busy", {},
                                                  "<img src=\"" + archive + "images/2.gif\">"));
  const auto outcome = run_quorvel(archive_site.server.address());
  EXPECT_EQ(outcome.files, std::vector<std::string>{strip_file(1)})
      << "the broken page is not read for images";
  EXPECT_EQ(masked(outcome.result.out),
            banner + report("Error # 2031 /failed=1/url=" + base_url + archive + "cal-2.html" +
                            "/proxy=" + archive_site.server.address() + "/reason=status 503" +
                            main_task));
  EXPECT_EQ(outcome.result.exit_code, 1);
}

struct calendar_fault_row {
  scripted_answer answer;
  const char* reason;
  const char* why;
};

class CalendarFault : public testing::TestWithParam<calendar_fault_row> {};

TEST_P(CalendarFault, EndsTheRunAtOnceWithTheReport) {
  archive_server archive_site(ok(strip_1));
  archive_site.server.route(archive, GetParam().answer);
  const auto outcome = run_quorvel(archive_site.server.address());
  EXPECT_TRUE(outcome.files.empty()) << GetParam().why;
  EXPECT_EQ(archive_site.server.targets(), std::vector<std::string>{base_url + archive})
      << "nothing else is asked for";
  EXPECT_EQ(masked(outcome.result.out),
            banner + report("Error # 2030 /url=" + base_url + archive + "/proxy=" +
                            archive_site.server.address() + "/reason=" + GetParam().reason +
                            main_task))
      << GetParam().why;
  EXPECT_EQ(outcome.result.exit_code, 1) << GetParam().why << "\n" << outcome.result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CalendarFault,
    testing::Values(
        calendar_fault_row{scripted_answer::http("HTTP/1.0 404 Not Found", {},
                                                 "<option value=\"" + archive +
                                                     "cal-1.html\">Dec. 01"),
                           "status 404", "not found, even with entries on the error page"},
        calendar_fault_row{scripted_answer::http("HTTP/1.0 503 Service Unavailable", {}, "busy"),
                           "status 503", "a proxy's error page"},
        calendar_fault_row{scripted_answer::http("HTTP/1.0 302 Found",
                                                 {"Location: http://elsewhere/"}, ""),
                           "status 302", "a redirection is not followed"},
        calendar_fault_row{scripted_answer::resetting(), "transfer failed", "a reset"},
        calendar_fault_row{scripted_answer::silent(), "timed out", "silence"},
        calendar_fault_row{scripted_answer::closing(), "no status line", "closed at once"},
        calendar_fault_row{scripted_answer::http("HTTP/1.0 2x0 OK", {}, ""), "malformed status line",
                           "a status code that is no number names the address too"}));

TEST(CalendarFault, NothingListeningAtTheProxyIsReportedWithItsAddress) {
  testing_support::refused_port refused;
  const std::string proxy = "127.0.0.1:" + std::to_string(refused.port());
  const auto outcome = run_quorvel(proxy);
  EXPECT_TRUE(outcome.files.empty());
  EXPECT_EQ(masked(outcome.result.out),
            banner + report("Error # 2030 /url=" + base_url + archive + "/proxy=" + proxy +
                            "/reason=no connection" + main_task));
  EXPECT_EQ(outcome.result.exit_code, 1);
}

}  // namespace
