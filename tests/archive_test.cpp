// The archive scan: calendar and day-page lines, and whole scans through a
// scripted server standing as the proxy, with the exact requests they make
// and the strip files they leave.
#include "app/archive.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "app/comics.hpp"
#include "lib/system.hpp"
#include "lib/tasks.hpp"
#include "platform/dates.hpp"
#include "platform/test_hooks.hpp"
#include "tcpip/url.hpp"
#include "tests/support/run.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/stack_headroom.hpp"
#include "tests/support/stepped_time.hpp"
#include "tests/support/tiny_gif.hpp"

namespace {

using platform::EncodeDate;
using testing_support::scripted_answer;
using testing_support::scripted_server;

constexpr std::uint8_t quorvel = 7;
constexpr std::uint8_t owlfred = 29;

// Sets the local clock for one scope.
class fixed_clock {
 public:
  explicit fixed_clock(platform::TDateTime now) { platform::test_hooks::SetClock([now] { return now; }); }
  ~fixed_clock() { platform::test_hooks::SetClock({}); }
};

const platform::TDateTime morning_of_7_dec_2026 = EncodeDate(2026, 12, 7) + 10.0 / 24;

struct calendar_row {
  const char* line;
  std::uint8_t comic;
  const char* path;          // expected path
  platform::TDateTime date;  // expected date (-1: left as it was)
  const char* why;
};

void PrintTo(const calendar_row& row, std::ostream* out) { *out << row.line; }

class CalendarLine : public testing::TestWithParam<calendar_row> {};

TEST_P(CalendarLine, GivesPathAndDate) {
  const calendar_row& row = GetParam();
  fixed_clock clock(morning_of_7_dec_2026);
  platform::TDateTime date = -1;
  EXPECT_EQ(app::ParseCalendarLine(row.line, row.comic, date), row.path) << row.why;
  EXPECT_EQ(date, row.date) << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CalendarLine,
    testing::Values(
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-20261207.html\">Dec. 07, 2026",
                     quorvel, "/comics/quorvel/archive/cal-20261207.html",
                     EncodeDate(2026, 12, 7), "today stays in this year"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-20261208.html\">Dec. 08",
                     quorvel, "/comics/quorvel/archive/cal-20261208.html",
                     EncodeDate(2025, 12, 8), "without a year, tomorrow goes to last year"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-a.html\">Dec. 08, 2026",
                     quorvel, "/comics/quorvel/archive/cal-a.html", EncodeDate(2026, 12, 8),
                     "the page's year holds, even ahead of the clock"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-b.html\">Dec. 06, 2025",
                     quorvel, "/comics/quorvel/archive/cal-b.html", EncodeDate(2025, 12, 6),
                     "the same month and day a year earlier keeps its own year"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-x.html\">Jan. 15 2021", quorvel,
                     "/comics/quorvel/archive/cal-x.html", EncodeDate(2021, 1, 15),
                     "years back, and no comma before the year"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-x.html\">Feb. 29, 2024", quorvel,
                     "/comics/quorvel/archive/cal-x.html", EncodeDate(2024, 2, 29),
                     "a leap day of its own year, though this year has none"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-x.html\">Feb. 29, 2026", quorvel,
                     "/comics/quorvel/archive/cal-x.html", 0, "a year without 29 February"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-x.html\">Dec. 01, 20261", quorvel,
                     "/comics/quorvel/archive/cal-x.html", EncodeDate(2026, 12, 1),
                     "five digits are no year: read as without one"},
        calendar_row{"  <OPTION VALUE=\"/comics/quorvel/Archive/CAL-20261201.HTML\">DEC. 01",
                     quorvel, "/comics/quorvel/Archive/CAL-20261201.HTML",
                     EncodeDate(2026, 12, 1), "pattern and month ignore case; path as read"},
        calendar_row{"<option value=\"/COMICS/Quorvel/archive/cal-20261201.html\">Dec. 01", quorvel,
                     "/COMICS/Quorvel/archive/cal-20261201.html", EncodeDate(2026, 12, 1),
                     "design rule: a section in other letters gives the entry's own path"},
        calendar_row{"<a href=\"/comics/index.html\"><option value=\"/comics/quorvel/archive/"
                     "cal-7.html\">Dec. 07",
                     quorvel, "/comics/index.html", EncodeDate(2026, 12, 7),
                     "the path starts at the first \"/\" + section of the line, wherever it is"},
        calendar_row{"<option value=\"/comics/cricket/archive/cal-20261207.html\">Dec. 07, 2026",
                     quorvel, "", -1, "another comic's entry is no entry; date untouched"},
        calendar_row{"<option value=\"/partner/owlfred/archive/cal-20261206.html\">Dec. 06",
                     owlfred, "/partner/owlfred/archive/cal-20261206.html",
                     EncodeDate(2026, 12, 6), "the partner section"},
        calendar_row{"<option value=\"/comics/owlfred/archive/cal-20261206.html\">Dec. 06",
                     owlfred, "", -1, "the partner comic is not under comics"},
        calendar_row{"Dec. 05 <option value=\"/comics/quorvel/archive/cal-5.html\"", quorvel,
                     "/comics/quorvel/archive/cal-5.html", EncodeDate(2026, 12, 5),
                     "no '>': the whole trimmed line is the date text"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-1.html\">Dec.  3, 2026\t\r",
                     quorvel, "/comics/quorvel/archive/cal-1.html", EncodeDate(2026, 12, 3),
                     "a day with a leading blank; controls trimmed"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-1.html\">Dez. 03, 2026", quorvel,
                     "/comics/quorvel/archive/cal-1.html", 0, "an unknown month: no date"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-1.html\">Dec. 3, 2026", quorvel,
                     "/comics/quorvel/archive/cal-1.html", 0, "a one-digit day: no date"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-1.html\">Nov. 31", quorvel,
                     "/comics/quorvel/archive/cal-1.html", 0, "an impossible day: no date"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-1.html>Dec. 03", quorvel, "",
                     EncodeDate(2026, 12, 3), "no closing quote: no path"},
        calendar_row{"<option value=\"/comics/quorvel/archive/cal-1.html\">", quorvel,
                     "/comics/quorvel/archive/cal-1.html", 0, "no date text at all"},
        calendar_row{"", quorvel, "", -1, "an empty line"}));

struct clock_row {
  platform::TDateTime now;
  const char* date_text;
  platform::TDateTime expected;
  const char* why;
};

class EntryYear : public testing::TestWithParam<clock_row> {};

TEST_P(EntryYear, WithoutAYearThisYearUnlessTheDateIsStillAhead) {
  fixed_clock clock(GetParam().now);
  platform::TDateTime date = -1;
  app::ParseCalendarLine(
      std::string("<option value=\"/comics/quorvel/archive/cal-1.html\">") + GetParam().date_text,
      quorvel, date);
  EXPECT_EQ(date, GetParam().expected) << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, EntryYear,
    testing::Values(
        clock_row{EncodeDate(2026, 12, 7), "Dec. 07", EncodeDate(2026, 12, 7),
                  "exactly midnight: the day has begun, it is this year's"},
        clock_row{EncodeDate(2026, 12, 7) - 1.0 / 86400, "Dec. 07", EncodeDate(2025, 12, 7),
                  "a second before midnight the day is still ahead"},
        clock_row{EncodeDate(2027, 1, 1) + 10.0 / 24, "Dec. 31", EncodeDate(2026, 12, 31),
                  "on 1 January the 31 December entry is last year's"},
        clock_row{EncodeDate(2027, 1, 1) + 10.0 / 24, "Jan. 01", EncodeDate(2027, 1, 1),
                  "and 1 January is this year's"},
        clock_row{EncodeDate(2028, 3, 1), "Feb. 29", EncodeDate(2028, 2, 29),
                  "leap year, the day has passed"},
        clock_row{EncodeDate(2028, 2, 29) + 0.5, "Feb. 29", EncodeDate(2028, 2, 29),
                  "leap year, the day itself"},
        clock_row{EncodeDate(2028, 2, 28), "Feb. 29", 0, "ahead in a leap year: 2027 has none"},
        clock_row{EncodeDate(2029, 3, 1), "Feb. 29", EncodeDate(2028, 2, 29),
                  "not a leap year: the year before is tried"},
        clock_row{EncodeDate(2030, 3, 1), "Feb. 29", 0, "neither this year nor the one before"}));

struct image_row {
  const char* line;
  std::uint8_t comic;
  const char* name;
  const char* why;
};

void PrintTo(const image_row& row, std::ostream* out) { *out << row.line; }

class ImageLine : public testing::TestWithParam<image_row> {};

TEST_P(ImageLine, GivesTheName) {
  EXPECT_EQ(app::ParseImageLine(GetParam().line, GetParam().comic), GetParam().name)
      << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ImageLine,
    testing::Values(
        image_row{"<img src=\"/comics/quorvel/archive/images/quorvel-20261207.gif\" width=\"640\">",
                  quorvel, "quorvel-20261207.gif", "the usual reference"},
        image_row{"<IMG SRC=\"/COMICS/QUORVEL/ARCHIVE/IMAGES/Strip-1.gif\">", quorvel,
                  "Strip-1.gif", "pattern ignores case, the name is as read"},
        image_row{"<img src=\"/comics/quorvel/archive/images/a.gif.gif\">", quorvel, "a.gif",
                  "the name ends at the first gif"},
        image_row{"<img src=\"/comics/quorvel/archive/images/A.GIF\">", quorvel, "",
                  "no gif in lower case after the pattern: no image"},
        image_row{"<img src=\"/comics/quorvel/archive/images/\">", quorvel, "",
                  "the pattern alone names no image"},
        image_row{"<img src=\"/comics/cricket/archive/images/c.gif\">", quorvel, "",
                  "another comic's image"},
        image_row{"<img src=\"/partner/owlfred/archive/images/o.gif\">", owlfred, "o.gif",
                  "the partner section"},
        image_row{"<p>gif</p>", quorvel, "", "no pattern"}));

std::string page(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

TEST(ReadCalendar, KeepsEntriesWithPathAndDateLastLineFirst) {
  fixed_clock clock(morning_of_7_dec_2026);
  platform::TMemoryStream body;
  const std::string text = page({
      "<select>",
      "<option value=\"/comics/quorvel/archive/cal-20261207.html\">Dec. 07, 2026",
      "<option value=\"/comics/quorvel/archive/cal-bad.html\">Xyz. 06, 2026",
      "<option value=\"/comics/quorvel/archive/cal-20261205.html\">Dec. 05, 2026",
      "</select>",
  });
  body.Write(text.data(), text.size());  // position at the end: the reader seeks itself
  platform::TStringList days(true);
  app::ReadCalendar(quorvel, body, days);
  ASSERT_EQ(days.Count(), 2);
  EXPECT_EQ(days[0], "/comics/quorvel/archive/cal-20261205.html");
  EXPECT_EQ(days[1], "/comics/quorvel/archive/cal-20261207.html");
  EXPECT_EQ(dynamic_cast<app::TDateObj*>(days.Objects(0))->GetDateString(), "261205");
  EXPECT_EQ(dynamic_cast<app::TDateObj*>(days.Objects(1))->GetDateString(), "261207");
}

TEST(ReadDayPage, EachImageGetsItsOwnCopyOfTheDate) {
  platform::TMemoryStream body;
  const std::string text = page({"<img src=\"/comics/quorvel/archive/images/a.gif\">",
                                 "<img src=\"/comics/quorvel/archive/images/b.gif\">"});
  body.Write(text.data(), text.size());
  body.Seek(0, platform::soBeginning);
  app::TDateObj day;
  day.FDate = EncodeDate(2026, 3, 4);
  platform::TStringList images(true);
  app::ReadDayPage(quorvel, body, day, images);
  ASSERT_EQ(images.Count(), 2);
  EXPECT_EQ(images[0], "b.gif");  // last line first
  EXPECT_EQ(images[1], "a.gif");
  EXPECT_NE(images.Objects(0), images.Objects(1));
  EXPECT_EQ(dynamic_cast<app::TDateObj*>(images.Objects(1))->GetDateString(), "260304");
}

std::vector<std::string>& progress_lines() {
  static std::vector<std::string> lines;
  return lines;
}

// A scan of the default comic through a scripted server standing as proxy.
class Scan : public testing::Test {
 protected:
  void SetUp() override {
    http_.Proxy = server_.address();
    target_ = dir_.path() + "/";
  }

  std::string base() const { return std::string(app::Comics[quorvel].BaseURL); }
  std::string url(const std::string& path) const { return base() + path; }

  static std::string calendar_line(const std::string& ymd, const std::string& text) {
    return "<option value=\"/comics/quorvel/archive/cal-" + ymd + ".html\">" + text;
  }
  static std::string image_line(const std::string& name) {
    return "<img src=\"/comics/quorvel/archive/images/" + name + "\">";
  }
  static scripted_answer ok(const std::string& body) {
    return scripted_answer::http("HTTP/1.0 200 OK", {"Content-Type: text/html"}, body);
  }
  void route_day(const std::string& ymd, const std::vector<std::string>& images) {
    std::vector<std::string> lines = {"<html>"};
    for (const auto& name : images) lines.push_back(image_line(name));
    server_.route("/comics/quorvel/archive/cal-" + ymd + ".html", ok(page(lines)));
  }
  void route_image(const std::string& name, scripted_answer answer) {
    server_.route("/comics/quorvel/archive/images/" + name, std::move(answer));
  }
  // A whole GIF tagged with `tag`; strip(...) == tagged(tag) tells which was saved.
  static scripted_answer gif(const std::string& tag) {
    return scripted_answer::http("HTTP/1.0 200 OK", {"Content-Type: image/gif"}, tagged(tag));
  }
  static std::string tagged(const std::string& tag) { return testing_support::tiny_gif(tag); }

  void run() { app::FetchArchive(quorvel, target_, http_, connections_); }
  // The progress lines of one run.
  std::vector<std::string> progress_of_run() {
    progress_lines().clear();
    app::ProgressProc = [](const std::string& line) { progress_lines().push_back(line); };
    run();
    app::ProgressProc = nullptr;
    return progress_lines();
  }
  // The scan's report up to the task's part ("2031/failed=N/url=.../reason=R"),
  // or "" when it ends without one.
  std::string report_of_run() {
    try {
      run();
      return "";
    } catch (const qlib::te_& error) {
      const std::string context = error.context();
      return std::to_string(error.code()) + context.substr(0, context.find("/task_nr="));
    }
  }
  std::string report(int failed, const std::string& path, const std::string& reason) const {
    return "2031/failed=" + std::to_string(failed) + "/url=" + url(path) + "/proxy=" +
           server_.address() + "/reason=" + reason;
  }
  std::string strip(const std::string& yymmdd) const {
    return testing_support::read_file(dir_ / ("qv" + yymmdd + ".gif"));
  }

  fixed_clock clock_{morning_of_7_dec_2026};
  scripted_server server_;
  testing_support::temp_dir dir_;
  std::string target_;
  tcpip::T_HTTP http_{nullptr};
  int connections_ = 1;
};

TEST_F(Scan, RequestsInOrderAndSavesTheFirstUsableImageOfEachDay) {
  server_.route("/comics/quorvel/archive/",
                ok(page({"<select>", calendar_line("20261207", "Dec. 07, 2026"),
                         calendar_line("20261206", "Dec. 06, 2026"),
                         calendar_line("20261205", "Dec. 05, 2026"), "</select>"})));
  route_day("20261207", {"s7.gif"});
  route_day("20261206", {"s6a.gif", "s6b.gif"});
  route_day("20261205", {"s5.gif"});
  route_image("s7.gif", gif("GIF89a-seven"));
  route_image("s6a.gif", scripted_answer::http("HTTP/1.0 404 Not Found", {}, "<html>gone</html>"));
  route_image("s6b.gif", gif("GIF89a-six-b"));
  route_image("s5.gif", gif("GIF89a-five"));
  run();

  const std::vector<std::string> expected = {
      url("/comics/quorvel/archive/"),
      url("/comics/quorvel/archive/cal-20261207.html"),  // day pages: top entry first
      url("/comics/quorvel/archive/cal-20261206.html"),
      url("/comics/quorvel/archive/cal-20261205.html"),
      url("/comics/quorvel/archive/images/s5.gif"),  // images: lowest entry first
      url("/comics/quorvel/archive/images/s6a.gif"),
      url("/comics/quorvel/archive/images/s6b.gif"),  // the first one failed
      url("/comics/quorvel/archive/images/s7.gif"),
  };
  EXPECT_EQ(server_.targets(), expected);
  EXPECT_EQ(strip("261207"), tagged("GIF89a-seven"));
  EXPECT_EQ(strip("261206"), tagged("GIF89a-six-b"));
  EXPECT_EQ(strip("261205"), tagged("GIF89a-five"));
  EXPECT_EQ(testing_support::list_dir(dir_.path()).size(), 3u);  // no temporary files
}

TEST_F(Scan, OnlyTheCalendarRequestAsksForAFreshPageUnlessNoCacheIsSet) {
  server_.route("/comics/quorvel/archive/", ok(page({calendar_line("20261207", "Dec. 07")})));
  route_day("20261207", {"s7.gif"});
  route_image("s7.gif", gif("GIF89a"));
  run();
  std::string host, ignored;
  tcpip::ParseURL(base(), ignored, ignored, ignored, host, ignored, ignored);
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], "GET " + url("/comics/quorvel/archive/") + " HTTP/1.0\r\nHost: " + host +
                             "\r\nPragma: no-cache\r\nAccept: */*\r\n\r\n");
  EXPECT_EQ(requests[1], "GET " + url("/comics/quorvel/archive/cal-20261207.html") +
                             " HTTP/1.0\r\nHost: " + host + "\r\nAccept: */*\r\n\r\n");
  EXPECT_EQ(requests[2].find("Pragma"), std::string::npos);
  EXPECT_FALSE(http_.NoCache);  // restored

  std::remove((dir_ / "qv261207.gif").c_str());
  http_.NoCache = true;
  run();
  requests = server_.requests();
  ASSERT_EQ(requests.size(), 6u);
  for (std::size_t i = 3; i < 6; ++i)
    EXPECT_NE(requests[i].find("\r\nPragma: no-cache\r\n"), std::string::npos) << i;
  EXPECT_TRUE(http_.NoCache);
}

TEST_F(Scan, AStripOnDiskStopsItsDayPageAndImage) {
  server_.route("/comics/quorvel/archive/",
                ok(page({calendar_line("20261207", "Dec. 07"), calendar_line("20261206", "Dec. 06"),
                         calendar_line("20261206", "Dec. 06")})));  // listed twice
  route_day("20261207", {"s7.gif"});
  route_day("20261206", {"s6.gif"});
  route_image("s6.gif", gif("new"));
  testing_support::write_file(dir_ / "qv261207.gif", "kept");
  run();
  const std::vector<std::string> expected = {
      url("/comics/quorvel/archive/"),
      url("/comics/quorvel/archive/cal-20261206.html"),  // twice: two entries
      url("/comics/quorvel/archive/cal-20261206.html"),
      url("/comics/quorvel/archive/images/s6.gif"),  // once: the file exists by then
  };
  EXPECT_EQ(server_.targets(), expected);
  EXPECT_EQ(strip("261207"), "kept");
  EXPECT_EQ(strip("261206"), tagged("new"));
}

TEST_F(Scan, ProgressLinesForDayPagesAndImagesOnly) {
  server_.route("/comics/quorvel/archive/", ok(page({calendar_line("20261207", "Dec. 07")})));
  route_day("20261207", {"s7.gif"});
  route_image("s7.gif", gif("GIF89a"));
  const std::vector<std::string> expected = {
      "Getting " + url("/comics/quorvel/archive/cal-20261207.html"),
      "Getting " + url("/comics/quorvel/archive/images/s7.gif"),
  };
  EXPECT_EQ(progress_of_run(), expected);
}

TEST_F(Scan, ProgressLinesAreCutTo255Characters) {
  const std::string long_day = "cal-" + std::string(300, 'd') + ".html";
  server_.route("/comics/quorvel/archive/",
                ok(page({"<option value=\"/comics/quorvel/archive/" + long_day + "\">Dec. 07"})));
  const std::string full = "Getting " + url("/comics/quorvel/archive/" + long_day);
  EXPECT_EQ(progress_of_run(), std::vector<std::string>{full.substr(0, 255)});
  EXPECT_EQ(server_.targets().back(), url("/comics/quorvel/archive/" + long_day))
      << "the request itself has the whole address";
}

TEST_F(Scan, ADayPageThatIsNotThereIsNotRead) {
  server_.route("/comics/quorvel/archive/", ok(page({calendar_line("20261207", "Dec. 07"),
                                                      calendar_line("20261206", "Dec. 06")})));
  server_.route("/comics/quorvel/archive/cal-20261207.html",
                scripted_answer::http("HTTP/1.0 404 Not Found", {"Content-Type: text/html"},
                                      page({"<h1>Not here</h1>", image_line("s7.gif")})));
  server_.route("/comics/quorvel/archive/cal-20261206.html",
                scripted_answer::http("HTTP/1.0 410 Gone", {}, page({image_line("s6.gif")})));
  route_image("s7.gif", gif("s7"));
  route_image("s6.gif", gif("s6"));
  EXPECT_EQ(report_of_run(), "") << "the days had no strip to give";
  EXPECT_EQ(server_.targets().size(), 3u) << "the calendar and the two day pages only";
  EXPECT_EQ(testing_support::list_dir(dir_.path()), std::vector<std::string>{});
}

struct failed_image_row {
  scripted_answer answer;
  const char* reason;  // of the failure that ends the day; "" when the next image serves
  const char* why;
};

// With one connection, and with four: the outcome is the same.
class UnusableImage : public Scan,
                      public testing::WithParamInterface<std::tuple<failed_image_row, int>> {
 protected:
  const failed_image_row& row() const { return std::get<0>(GetParam()); }
};

// The 7th names bad.gif and then good.gif, the 6th only bad.gif.
TEST_P(UnusableImage, LetsTheNextImageServeOrEndsTheDay) {
  connections_ = std::get<1>(GetParam());
  server_.route("/comics/quorvel/archive/", ok(page({calendar_line("20261207", "Dec. 07"),
                                                      calendar_line("20261206", "Dec. 06")})));
  route_day("20261207", {"bad.gif", "good.gif"});
  route_day("20261206", {"bad.gif"});
  route_image("bad.gif", row().answer);
  route_image("good.gif", gif("GIF89a-good"));
  const std::string reason = row().reason;
  const std::string good = url("/comics/quorvel/archive/images/good.gif");
  const auto& targets = server_.targets();
  // Both requests of bad.gif fail, or neither does; the other day is fetched all the same.
  EXPECT_EQ(report_of_run(),
            reason.empty() ? "" : report(2, "/comics/quorvel/archive/images/bad.gif", reason))
      << row().why;
  if (reason.empty()) {
    EXPECT_EQ(strip("261207"), tagged("GIF89a-good")) << row().why;
    EXPECT_EQ(testing_support::list_dir(dir_.path()), std::vector<std::string>{"qv261207.gif"})
        << row().why;
  } else {
    EXPECT_EQ(std::count(targets.begin(), targets.end(), good), 0)
        << row().why << ": the failure ends the day";
    EXPECT_EQ(testing_support::list_dir(dir_.path()), std::vector<std::string>{}) << row().why;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UnusableImage,
    testing::Combine(testing::Values(
        failed_image_row{scripted_answer::http("HTTP/1.0 404 Not Found", {}, "<html>no</html>"), "",
                         "an image that is not there is no failure"},
        failed_image_row{scripted_answer::http("HTTP/1.0 410 Gone", {}, "<html>gone</html>"), "",
                         "an image gone for good is no failure"},
        failed_image_row{scripted_answer::http("HTTP/1.0 200 OK", {}, ""), "", "an empty body"},
        failed_image_row{scripted_answer::http("HTTP/1.0 301 Moved", {"Location: /x.gif"}, "moved"),
                         "status 301", "a redirection is not followed"},
        failed_image_row{scripted_answer::http("HTTP/1.0 403 Forbidden", {}, "no"), "status 403",
                         "a refusal is no missing image"},
        failed_image_row{scripted_answer::http("HTTP/1.0 503 Busy", {}, testing_support::tiny_gif("busy")),
                         "status 503", "a server error fails, whatever the body"},
        failed_image_row{scripted_answer::http("HTTP/1.0 200 OK", {"Content-Length: 100"},
                                               testing_support::tiny_gif("short")),
                         "transfer cut short", "cut off before its announced length"},
        failed_image_row{scripted_answer::http("HTTP/1.0 200 OK", {}, "<html>an error page</html>"),
                         "no whole GIF", "a page answered with success"},
        failed_image_row{scripted_answer::http("HTTP/1.0 200 OK", {},
                                               testing_support::tiny_gif("cut").substr(0, 30)),
                         "no whole GIF", "a GIF cut short with an orderly close"},
        failed_image_row{scripted_answer::bytes(testing_support::tiny_gif("bare")), "no status line",
                         "no status line in this response"},
        failed_image_row{scripted_answer::http("HTTP/1.0 2x0 OK", {}, testing_support::tiny_gif("x")),
                         "malformed status line", "a status code that is no number"},
        failed_image_row{scripted_answer::http("HTTP/1.0 200 OK", {"Content-Length: 12abc"},
                                               testing_support::tiny_gif("x")),
                         "malformed header line", "a Content-Length that is no number"},
        failed_image_row{scripted_answer::http("HTTP/1.0 200 OK", {"Content-Length: 4294967296"},
                                               testing_support::tiny_gif("x")),
                         "malformed header line", "a Content-Length beyond 32 bits"},
        failed_image_row{scripted_answer::http("HTTP/1.0 200 OK", {}, testing_support::tiny_gif("reset")).then(
                             scripted_answer::ending::reset),
                         "transfer failed", "a reset after the body"},
        failed_image_row{scripted_answer::resetting(), "transfer failed", "a reset connection"},
        failed_image_row{scripted_answer::closing(), "no status line",
                         "a connection closed at once"}), testing::Values(1, 4)));

// Day pages 1 to 12, as calendar lines top first.
std::vector<std::string> twelve_days() {
  std::vector<std::string> lines;
  for (int day = 1; day <= 12; ++day)
    lines.push_back("<option value=\"/comics/quorvel/archive/cal-" + std::to_string(day) +
                    ".html\">Dec. " + (day < 10 ? "0" : "") + std::to_string(day) + ", 2026");
  return lines;
}

// Scans with one connection, and with four.
class Connections : public Scan, public testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    Scan::SetUp();
    connections_ = GetParam();
  }
  // Up to three more requests may be in flight at four when the fifth
  // answer in a row stops the scan; the report names the first all the same.
  // Day pages asked, at least `one_by_one` (what one connection asks) and
  // at most as many more as there are other connections; all of them failed.
  void expect_asked(std::size_t one_by_one, const std::string& first, const std::string& reason) {
    const std::string got = report_of_run();
    const std::size_t asked = server_.targets().size() - 1;
    EXPECT_GE(asked, one_by_one);
    EXPECT_LE(asked, one_by_one + static_cast<std::size_t>(connections_ - 1));
    EXPECT_EQ(got, report(static_cast<int>(asked), "/comics/quorvel/archive/" + first, reason));
  }
};

TEST_P(Connections, TheReportNamesTheFirstFailureOfADayStillMissingInTheScansOrder) {
  const testing_support::stepped_time time;
  // The 7th is listed twice: its first page fails, its second gives the strip.
  server_.route("/comics/quorvel/archive/",
                ok(page({calendar_line("7a", "Dec. 07"), calendar_line("7b", "Dec. 07"),
                         calendar_line("8", "Dec. 08"), calendar_line("6", "Dec. 06")})));
  // Answered last: ten seconds between its bytes.
  server_.route("/comics/quorvel/archive/cal-8.html",
                scripted_answer::http("HTTP/1.0 500 Slow", {}, "slow").in_pieces(9).paced(std::chrono::seconds(10)));
  server_.route("/comics/quorvel/archive/cal-7a.html",
                scripted_answer::http("HTTP/1.0 500 Internal Server Error", {}, "oops"));
  server_.route("/comics/quorvel/archive/cal-7b.html", ok(page({image_line("s7.gif")})));
  server_.route("/comics/quorvel/archive/cal-6.html",
                scripted_answer::http("HTTP/1.0 503 Busy", {}, "busy"));
  route_image("s7.gif", gif("s7"));
  EXPECT_EQ(report_of_run(), report(3, "/comics/quorvel/archive/cal-8.html", "status 500"));
  EXPECT_EQ(strip("261207"), tagged("s7"));
}

TEST_P(Connections, FiveSilentRequestsInARowEndTheScan) {
  const testing_support::stepped_time time;
  server_.route("/comics/quorvel/archive/", ok(page(twelve_days())));
  server_.set_fallback(scripted_answer::silent());
  // Four silent, then an error page: the server is there, the count starts again.
  server_.route("/comics/quorvel/archive/cal-5.html",
                scripted_answer::http("HTTP/1.0 500 Internal Server Error", {}, "oops"));
  expect_asked(10, "cal-1.html", "timed out");
}

TEST_P(Connections, FiveGatewayAnswersInARowEndTheScan) {
  server_.route("/comics/quorvel/archive/", ok(page(twelve_days())));
  // A proxy whose server is down: 502, 503, then 504 for everything else.
  server_.route("/comics/quorvel/archive/cal-1.html",
                scripted_answer::http("HTTP/1.0 502 Bad Gateway", {}, "down"));
  server_.route("/comics/quorvel/archive/cal-2.html",
                scripted_answer::http("HTTP/1.0 503 Service Unavailable", {}, "down"));
  server_.set_fallback(scripted_answer::http("HTTP/1.0 504 Gateway Timeout", {}, "down"));
  expect_asked(5, "cal-1.html", "status 502");
}

INSTANTIATE_TEST_SUITE_P(OneAndFour, Connections, testing::Values(1, 4));

std::size_t least_transfer_headroom = SIZE_MAX;

TEST_F(Scan, FourConnectionsKeepFourRequestsInFlightAndNoMore) {
  server_.route("/comics/quorvel/archive/", ok(page(twelve_days())));
  server_.set_fallback(ok(page({image_line("s.gif")})));
  route_image("s.gif", gif("s"));
  server_.hold_answers(4, 1);  // after the calendar; fewer in flight wait 10 s and fail below
  http_.Proxy = "localhost:" + std::to_string(server_.port());  // with a host lookup on the stack
  connections_ = 4;
  qlib::task_end_hook = [](qlib::task_rec* task) {
    if (task->task_name.rfind("Transfer", 0) == 0)
      least_transfer_headroom = std::min(least_transfer_headroom, testing_support::stack_headroom(task));
  };
  const auto progress = progress_of_run();
  qlib::task_end_hook = nullptr;
  EXPECT_EQ(server_.most_waiting(), 4u);
  EXPECT_EQ(progress.size(), 24u);
  EXPECT_EQ(testing_support::list_dir(dir_.path()).size(), 12u);
  EXPECT_GT(least_transfer_headroom, qlib::pool_stack_size / 2) << "a transfer used half its stack";
}

int pages_before_stop = 0;
testing_support::scripted_server* server_to_stop = nullptr;

TEST_F(Scan, AServerGoneInTheMiddleIsAskedFiveTimesMore) {
  server_.route("/comics/quorvel/archive/", ok(page(twelve_days())));
  server_.set_fallback(ok(page({})));
  pages_before_stop = 2;
  server_to_stop = &server_;
  app::ProgressProc = [](const std::string&) {
    if (pages_before_stop-- == 0) server_to_stop->stop();
  };
  EXPECT_EQ(report_of_run(), report(5, "/comics/quorvel/archive/cal-3.html", "no connection"));
  app::ProgressProc = nullptr;
  EXPECT_EQ(pages_before_stop, -5) << "two pages fetched, five more asked, then none";
}

TEST_F(Scan, AStripOfOneComicStopsTheOtherWithTheSamePrefix) {
  for (const std::string key : {"dustykid", "marvels"}) {
    const std::string archive = "/comics/" + key + "/archive/";
    server_.route(archive, ok("<option value=\"" + archive + "cal-7.html\">Dec. 07\n" +
                              "<option value=\"" + archive + "cal-6.html\">Dec. 06\n"));
    for (const std::string day : {"7", "6"}) {
      const std::string image = key + day + ".gif";
      server_.route(archive + "cal-" + day + ".html",
                    ok("<img src=\"" + archive + "images/" + image + "\">\n"));
      server_.route(archive + "images/" + image, gif(key + day));
    }
  }
  testing_support::write_file(dir_ / "dk261206.gif", "older");
  app::FetchArchive(3, target_, http_);  // Dusty Kid fetches the 7th
  EXPECT_EQ(server_.targets().size(), 3u);
  app::FetchArchive(24, target_, http_);  // Marvels finds both dates taken
  EXPECT_EQ(server_.targets().size(), 4u);  // its calendar only
  EXPECT_EQ(testing_support::read_file(dir_ / "dk261207.gif"), tagged("dustykid7"));
  EXPECT_EQ(testing_support::read_file(dir_ / "dk261206.gif"), "older");
}

}  // namespace
