// The site's addresses and pages: what each path answers, and the exact
// lines the archive scan reads.
#include "server/comic_site.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::chrono;

// Sunday 3 March 2024 and the four days before it.
const server::archive_window window{sys_days{year{2024} / 3 / 3}, 5};

const app::TComic& comic(std::string_view key) {
  for (const auto& row : app::Comics)
    if (row.Key == key) return row;
  throw std::logic_error("no such comic");
}

int count_lines_containing(const std::string& page, std::string_view text) {
  int count = 0;
  std::size_t start = 0;
  while (start < page.size()) {
    std::size_t end = page.find('\n', start);
    if (end == std::string::npos) end = page.size();
    if (std::string_view(page).substr(start, end - start).find(text) != std::string_view::npos) ++count;
    start = end + 1;
  }
  return count;
}

struct route {
  const char* path;
  int status;
  const char* content_type;
  const char* reason;
};

class SiteRoutes : public testing::TestWithParam<route> {};

TEST_P(SiteRoutes, AnswerWithTheRightStatusAndType) {
  const route& row = GetParam();
  const server::response answer = server::serve(row.path, window);
  EXPECT_EQ(answer.status, row.status) << row.reason;
  EXPECT_EQ(answer.content_type, row.content_type) << row.reason;
  EXPECT_FALSE(answer.body.empty()) << row.reason;
}

INSTANTIATE_TEST_SUITE_P(
    ComicSite, SiteRoutes,
    testing::Values(
        route{"/", 200, "text/html", "the list of comics"},
        route{"/site.css", 200, "text/css", "the stylesheet every page links"},
        route{"/site.css/", 404, "text/html", "nothing below the stylesheet"},
        route{"/comics/quorvel/archive/", 200, "text/html", "a calendar"},
        route{"/partner/owlfred/archive/", 200, "text/html", "the one comic of another section"},
        route{"/comics/owlfred/archive/", 404, "text/html", "a comic under a section not its own"},
        route{"/comics/quorvel/archive", 404, "text/html", "the calendar address ends in a slash"},
        route{"/COMICS/quorvel/archive/", 404, "text/html", "paths keep their letter case"},
        route{"/comics/nosuch/archive/", 404, "text/html", "not in the catalogue"},
        route{"/comics/quorvel/archive/cal-20240303.html", 200, "text/html", "today"},
        route{"/comics/quorvel/archive/cal-20240228.html", 200, "text/html", "the oldest archived day"},
        route{"/comics/quorvel/archive/cal-20240227.html", 404, "text/html", "one day before the window"},
        route{"/comics/quorvel/archive/cal-20240304.html", 404, "text/html", "tomorrow"},
        route{"/comics/quorvel/archive/cal-20240230.html", 404, "text/html", "no such date"},
        route{"/comics/quorvel/archive/cal-2024030.html", 404, "text/html", "seven digits"},
        route{"/comics/quorvel/archive/cal-20240303.htm", 404, "text/html", "another ending"},
        route{"/comics/quorvel/archive/images/quorvel-20240303.gif", 200, "image/gif", "today's strip"},
        route{"/comics/quorvel/archive/images/quorvel-20240303-extra.gif", 200, "image/gif",
              "a Sunday's second image"},
        route{"/comics/quorvel/archive/images/quorvel-20240302-extra.gif", 404, "text/html",
              "no second image on a Saturday"},
        route{"/comics/quorvel/archive/images/quorvel-20240227.gif", 404, "text/html",
              "a strip before the window"},
        route{"/comics/quorvel/archive/images/jobble-20240303.gif", 404, "text/html",
              "another comic's strip name"},
        route{"/comics/quorvel/archive/images/", 404, "text/html", "the image folder itself"},
        route{"/comics/quorvel/archive/feed.atom", 200, "application/atom+xml", "the comic's feed"},
        route{"/comics/quorvel/archive/random", 303, "text/html", "on to a random day"},
        route{"/comics/quorvel/archive/year-2024.html", 404, "text/html",
              "no year pages while the archive spans one year"}));

TEST(ComicSite, CalendarLinesHaveTheExactShapeNewestFirst) {
  const std::string page = server::calendar_page(comic("quorvel"), window);
  std::size_t at = 0;
  for (const char* line : {"20240303.html\">Mar. 03, 2024", "20240229.html\">Feb. 29, 2024",
                           "20240228.html\">Feb. 28, 2024"}) {
    at = page.find("\n<option value=\"/comics/quorvel/archive/cal-" + std::string(line) + "\n", at);
    ASSERT_NE(at, std::string::npos) << line << " in order in\n" << page;
  }
  EXPECT_EQ(count_lines_containing(page, "<option value=\"/comics/quorvel/archive/cal-"), 5);
}

// 400 days up to 3 March 2024: from 29 January 2023 on, two years.
TEST(ComicSite, ALongArchiveShowsAYearAtATimeAndListsEveryDay) {
  const server::archive_window long_window{window.today, 400};
  const std::string page = server::calendar_page(comic("quorvel"), long_window);
  EXPECT_EQ(count_lines_containing(page, "<option value=\"/comics/quorvel/archive/cal-"), 400);
  EXPECT_NE(page.find("<caption>January 2024</caption>"), std::string::npos);
  EXPECT_EQ(page.find("<caption>December 2023</caption>"), std::string::npos) << "only the latest year";
  EXPECT_NE(page.find("<span>2024</span>\n<a href=\"/comics/quorvel/archive/year-2023.html\">2023</a>"),
            std::string::npos);

  const auto year = server::serve("/comics/quorvel/archive/year-2023.html", long_window);
  ASSERT_EQ(year.status, 200);
  EXPECT_NE(year.body.find("<caption>January 2023</caption>"), std::string::npos);
  EXPECT_EQ(year.body.find("<caption>March 2024</caption>"), std::string::npos);
  EXPECT_EQ(count_lines_containing(year.body, "<option"), 0);
  EXPECT_EQ(count_lines_containing(year.body, "/archive/cal-20230128.html"), 0) << "before the archive";
  EXPECT_EQ(count_lines_containing(year.body, "/archive/cal-20230129.html"), 1);
  EXPECT_EQ(server::serve("/comics/quorvel/archive/year-2022.html", long_window).status, 404);
}

TEST(ComicSite, RandomLeadsToAnArchivedDay) {
  for (int i = 0; i < 20; ++i) {
    const auto answer = server::serve("/comics/quorvel/archive/random", window);
    ASSERT_EQ(answer.status, 303);
    const std::string prefix = "/comics/quorvel/archive/cal-";
    ASSERT_EQ(answer.location.substr(0, prefix.size()), prefix);
    EXPECT_EQ(server::serve(answer.location, window).status, 200) << answer.location;
  }
}

TEST(ComicSite, NoDaysGiveAnEmptyCalendarNoDayPagesNoRandomDayAndNoStrip) {
  const server::archive_window none{window.today, 0};
  EXPECT_EQ(count_lines_containing(server::calendar_page(comic("quorvel"), none), "/archive/cal-"), 0);
  EXPECT_EQ(server::serve("/comics/quorvel/archive/cal-20240303.html", none).status, 404);
  EXPECT_EQ(server::serve("/comics/quorvel/archive/random", none).status, 404);
  EXPECT_EQ(server::index_page(none).find("<img"), std::string::npos);
}

TEST(ComicSite, DayPagesNameTheirDateAndTheirImagesOnLinesOfTheirOwn) {
  const std::string saturday =
      server::day_page(comic("quorvel"), sys_days{year{2024} / 3 / 2}, window);
  EXPECT_EQ(count_lines_containing(saturday, "/comics/quorvel/archive/images/"), 1);
  EXPECT_EQ(count_lines_containing(saturday, "gif"), 1);
  EXPECT_NE(saturday.find("\n<img src=\"/comics/quorvel/archive/images/quorvel-20240302.gif\""),
            std::string::npos)
      << saturday;

  const std::string sunday = server::day_page(comic("quorvel"), window.today, window);
  const auto strip = sunday.find("\n<img src=\"/comics/quorvel/archive/images/quorvel-20240303.gif\"");
  const auto extra = sunday.find("\n<img src=\"/comics/quorvel/archive/images/quorvel-20240303-extra.gif\"");
  ASSERT_NE(strip, std::string::npos) << sunday;
  ASSERT_NE(extra, std::string::npos) << sunday;
  EXPECT_LT(strip, extra);
  EXPECT_EQ(count_lines_containing(sunday, "/comics/quorvel/archive/images/"), 2);
  EXPECT_NE(sunday.find("<h2>Sunday, March 3, 2024</h2>"), std::string::npos);
}

TEST(ComicSite, TitlesShowOneAmpersandEscapedForHtml) {
  EXPECT_EQ(server::display_title("Benny && Wren"), "Benny & Wren");
  EXPECT_EQ(server::display_title("A &&& B"), "A && B");
  EXPECT_EQ(server::escape_html("<a href=\"x\">&</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
  const std::string page = server::calendar_page(comic("bennywren"), window);
  EXPECT_NE(page.find("<h1>Benny &amp; Wren</h1>"), std::string::npos) << page;
  EXPECT_EQ(page.find("&&"), std::string::npos);
}

TEST(ComicSite, TheIndexShowsEveryComicsLatestStripLinkedToItsDay) {
  const std::string page = server::index_page(window);
  for (const auto& row : app::Comics) {
    EXPECT_NE(page.find("<a href=\"" + server::calendar_path(row) + "\">"), std::string::npos) << row.Key;
    const std::string latest = "<a href=\"" + server::day_path(row, window.today) + "\"><img src=\"" +
                               server::image_path(row, server::strip_name(row, window.today)) + "\"";
    EXPECT_NE(page.find(latest), std::string::npos) << row.Key;
  }
}

TEST(ComicSite, EveryPageLinksTheStylesheetAndFitsAPhone) {
  const std::string stylesheet = "<link rel=\"stylesheet\" href=\"/site.css\">";
  const std::string viewport = "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
  for (const std::string& page :
       {server::index_page(window), server::calendar_page(comic("quorvel"), window),
        server::day_page(comic("quorvel"), window.today, window)}) {
    EXPECT_NE(page.find(stylesheet), std::string::npos) << page;
    EXPECT_NE(page.find(viewport), std::string::npos) << page;
  }
}

// The links of a page that lead to day pages, in page order.
std::vector<std::string> day_links(const std::string& page) {
  std::vector<std::string> links;
  const std::string start = "<a href=\"";
  for (auto at = page.find(start); at != std::string::npos; at = page.find(start, at + 1)) {
    const auto from = at + start.size();
    const std::string href = page.substr(from, page.find('"', from) - from);
    if (href.find("/archive/cal-") != std::string::npos) links.push_back(href);
  }
  return links;
}

TEST(ComicSite, TheMonthGridLinksEachArchivedDayOnceFromMondayOn) {
  const std::string page = server::calendar_page(comic("quorvel"), window);
  const std::string day = "/comics/quorvel/archive/cal-";
  // The latest-strip link first, then the grid: March before February.
  EXPECT_EQ(day_links(page), (std::vector<std::string>{day + "20240303.html", day + "20240301.html",
                                                       day + "20240302.html", day + "20240303.html",
                                                       day + "20240228.html", day + "20240229.html"}));
  const auto march = page.find("<caption>March 2024</caption>");
  const auto february = page.find("<caption>February 2024</caption>");
  ASSERT_NE(march, std::string::npos) << page;
  ASSERT_NE(february, std::string::npos) << page;
  EXPECT_LT(march, february);
  EXPECT_EQ(page.find("January 2024"), std::string::npos) << "no month without archived days";
  // 1 March 2024 was a Friday, 1 February a Thursday.
  EXPECT_NE(page.find("<tr><td></td><td></td><td></td><td></td><td><a href=\"" + day + "20240301.html\">1</a>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<tr><td></td><td></td><td></td><td>1</td><td>2</td>"), std::string::npos) << page;
  // A day of the month outside the archive is plain text; each week has seven cells.
  EXPECT_NE(page.find("<td>4</td>"), std::string::npos);
  std::size_t rows = 0;
  for (auto at = page.find("<tr>"); at != std::string::npos; at = page.find("<tr>", at + 1)) {
    const auto end = page.find("</tr>", at);
    const std::string row = page.substr(at, end - at);
    std::size_t cells = 0;
    for (auto cell = row.find("<t"); cell != std::string::npos; cell = row.find("<t", cell + 1))
      if (row.compare(cell, 4, "<td>") == 0 || row.compare(cell, 4, "<th ") == 0) ++cells;
    EXPECT_EQ(cells, 7u) << row;
    ++rows;
  }
  EXPECT_EQ(rows, 2u + 5 + 5) << "two heading rows, five weeks in each month";
}

struct nav_case {
  sys_days day;
  std::vector<std::string> links;  // the day links of the navigation, in order
  const char* next;                // the strip's link, if any
  const char* reason;
};

class DayNavigation : public testing::TestWithParam<nav_case> {};

TEST_P(DayNavigation, LinksOnlyToArchivedDays) {
  // 29 February to 4 March 2024.
  const server::archive_window five{sys_days{year{2024} / 3 / 4}, 5};
  const auto& row = GetParam();
  const std::string page = server::day_page(comic("quorvel"), row.day, five);
  std::vector<std::string> nav;
  for (const std::string& name : row.links) nav.push_back("/comics/quorvel/archive/cal-" + name + ".html");
  // The navigation above and below the strip; the strip leads to the next day.
  std::vector<std::string> expected = nav;
  if (row.next) expected.push_back("/comics/quorvel/archive/cal-" + std::string(row.next) + ".html");
  expected.insert(expected.end(), nav.begin(), nav.end());
  EXPECT_EQ(day_links(page), expected) << row.reason;
  EXPECT_EQ(count_lines_containing(page, "<a href=\"/comics/quorvel/archive/random\">Random</a>"), 2);
}

INSTANTIATE_TEST_SUITE_P(
    ComicSite, DayNavigation,
    testing::Values(nav_case{sys_days{year{2024} / 3 / 2}, {"20240229", "20240301", "20240303", "20240304"}, "20240303",
                             "first, previous, next, latest"},
                    nav_case{sys_days{year{2024} / 3 / 4}, {"20240229", "20240303"}, nullptr, "the latest day: no next, no latest"},
                    nav_case{sys_days{year{2024} / 2 / 29}, {"20240301", "20240304"}, "20240301", "29 February, the first: no first, no previous"}));

struct choice_case {
  const char* query;
  bool day_page;  // else the calendar
  const char* reason;
};

class CalendarChoice : public testing::TestWithParam<choice_case> {};

TEST_P(CalendarChoice, TheGoButtonLeadsToTheChosenDay) {
  const auto& row = GetParam();
  const server::response answer = server::serve("/comics/quorvel/archive/", window, row.query);
  EXPECT_EQ(answer.status, 200) << row.reason;
  const std::string expected =
      row.day_page ? server::day_page(comic("quorvel"), sys_days{year{2024} / 3 / 2}, window)
                   : server::calendar_page(comic("quorvel"), window);
  EXPECT_EQ(answer.body, expected) << row.reason;
}

INSTANTIATE_TEST_SUITE_P(
    ComicSite, CalendarChoice,
    testing::Values(
        choice_case{"day=%2Fcomics%2Fquorvel%2Farchive%2Fcal-20240302.html", true, "as a browser sends it"},
        choice_case{"day=/comics/quorvel/archive/cal-20240302.html", true, "slashes not encoded"},
        choice_case{"x=1&day=%2fcomics%2fquorvel%2farchive%2fcal-20240302.html", true,
                    "another field first, digits in lower case"},
        choice_case{"day=", false, "the list's first entry, no day"},
        choice_case{"day=%2Fcomics%2Fquorvel%2Farchive%2Fcal-20240227.html", false, "before the archive"},
        choice_case{"day=%2Fcomics%2Fjobble%2Farchive%2Fcal-20240302.html", false, "another comic's day"},
        choice_case{"day=%2Fcomics%2Fquorvel%2Farchive%2Fcal-20240302.html%2", false, "a cut-off escape"},
        choice_case{"days=%2Fcomics%2Fquorvel%2Farchive%2Fcal-20240302.html", false, "another field"},
        choice_case{"", false, "no query"}));

TEST(ComicSite, TheCalendarFormAsksItsOwnPageWithTheChoice) {
  const std::string page = server::calendar_page(comic("quorvel"), window);
  EXPECT_NE(page.find("<form action=\"/comics/quorvel/archive/\" method=\"get\">"), std::string::npos);
  EXPECT_NE(page.find("<select id=\"day\" name=\"day\""), std::string::npos);
  EXPECT_NE(page.find("<button type=\"submit\">Go</button>"), std::string::npos);
}

}  // namespace
