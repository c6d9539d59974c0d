// What a run of the built quorvel leaves and says when the server or proxy
// misbehaves: only whole strips on disk, the other days still fetched, and an
// error report with exit code 1 that names the first failed address and why.
// Which failure ends a day is archive_test's to show, how a transfer ends
// transfer_test's; here are the rows that only a whole run shows.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/support/report.hpp"
#include "tests/support/run.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/tiny_gif.hpp"

namespace {

using testing_support::banner;
using testing_support::main_task;
using testing_support::masked;
using testing_support::report;
using testing_support::scripted_answer;
using testing_support::scripted_server;
using testing_support::temp_dir;
using ending = scripted_answer::ending;

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

// A scripted archive of two days behind the proxy, each day with one strip.
struct archive_server {
  scripted_server server;

  archive_server() {
    server.route(archive, ok("<option value=\"" + archive + "cal-1.html\">" + calendar_text(1) +
                             "\r\n<option value=\"" + archive + "cal-2.html\">" +
                             calendar_text(2) + "\r\n"));
    server.route(archive + "cal-1.html", ok("<img src=\"" + archive + "images/1.gif\">\r\n"));
    server.route(archive + "cal-2.html", ok("<img src=\"" + archive + "images/2.gif\">\r\n"));
    server.route(archive + "images/1.gif", ok(strip_1));
    server.route(archive + "images/2.gif", ok(strip_2));
  }
};

struct run_outcome {
  testing_support::run_result result;
  std::vector<std::string> files;  // in the target, hidden ones too
};

// Runs the program through `proxy` into a fresh target directory; every
// strip it leaves there must be whole.
run_outcome run_quorvel(const std::string& proxy, const std::string& connections = "1") {
  temp_dir target;
  testing_support::run_options options = testing_support::in_dir(target.path());
  options.timeout_seconds = 60;
  run_outcome outcome;
  outcome.result = testing_support::run(
      QUORVEL_BIN, {"/verbatim=N", "/proxy=" + proxy, "/connections=" + connections}, options);
  outcome.files = testing_support::list_dir(target.path());
  for (const std::string& name : outcome.files)
    EXPECT_EQ(testing_support::read_file(target / name), name == strip_file(1) ? strip_1 : strip_2)
        << name << " is a whole strip";
  return outcome;
}

struct strip_fault_row {
  const char* path;  // below the archive, the request that fails
  scripted_answer answer;
  const char* reason;
  const char* why;
};

// A fault on the way to the first day's strip leaves the second day's strip
// to be fetched all the same, with one connection and with four.
class StripFault : public testing::TestWithParam<strip_fault_row> {};

TEST_P(StripFault, LeavesNoFileFetchesTheOtherDaysAndEndsWithTheReport) {
  for (const char* connections : {"1", "4"}) {
    SCOPED_TRACE(std::string("/connections=") + connections);
    archive_server archive_site;
    archive_site.server.route(archive + GetParam().path, GetParam().answer);
    const auto outcome = run_quorvel(archive_site.server.address(), connections);
    EXPECT_EQ(outcome.files, std::vector<std::string>{strip_file(2)}) << GetParam().why;
    EXPECT_EQ(masked(outcome.result.out),
              banner + report("Error # 2031 /failed=1/url=" + base_url + archive + GetParam().path +
                              "/proxy=" + archive_site.server.address() + "/reason=" +
                              GetParam().reason + main_task))
        << GetParam().why;
    EXPECT_EQ(outcome.result.exit_code, 1) << GetParam().why << "\n" << outcome.result.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StripFault,
    testing::Values(
        strip_fault_row{"images/1.gif",
                        ok(strip_1 + std::string(20000, '\0'))
                            .in_pieces(4096)
                            .cut_after(10000)
                            .then(ending::reset),
                        "transfer failed", "a reset in the middle of the body: no partial file"},
        strip_fault_row{"images/1.gif", ok(strip_1).then(ending::endless), "body too large",
                        "an endless body, a reason no scan test meets"},
        strip_fault_row{"cal-1.html",
                        scripted_answer::http("HTTP/1.0 503 Busy", {},
                                              "<img src=\"" + archive + "images/1.gif\">"),
                        "status 503", "the broken day page is not read for images"}));

// Without its calendar the run asks nothing more.
void expect_calendar_report(const run_outcome& outcome, const std::string& proxy,
                            const std::string& reason) {
  EXPECT_TRUE(outcome.files.empty());
  EXPECT_EQ(masked(outcome.result.out),
            banner + report("Error # 2030 /url=" + base_url + archive + "/proxy=" + proxy +
                            "/reason=" + reason + main_task));
  EXPECT_EQ(outcome.result.exit_code, 1) << outcome.result.err;
}

TEST(CalendarFault, ACalendarNotFoundEndsTheRunAtOnceWithTheReport) {
  archive_server archive_site;
  archive_site.server.route(
      archive, scripted_answer::http("HTTP/1.0 404 Not Found", {},
                                     "<option value=\"" + archive + "cal-1.html\">Dec. 01"));
  expect_calendar_report(run_quorvel(archive_site.server.address()),
                         archive_site.server.address(), "status 404");
  EXPECT_EQ(archive_site.server.targets(), std::vector<std::string>{base_url + archive})
      << "not even the entry of the error page";
}

TEST(CalendarFault, NothingListeningAtTheProxyIsReportedWithItsAddress) {
  testing_support::refused_port refused;
  const std::string proxy = "127.0.0.1:" + std::to_string(refused.port());
  expect_calendar_report(run_quorvel(proxy), proxy, "no connection");
}

}  // namespace
