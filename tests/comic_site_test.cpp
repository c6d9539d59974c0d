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
        route{"/comics/quorvel/archive/images/", 404, "text/html", "the image folder itself"}));

TEST(ComicSite, CalendarLinesHaveTheExactShapeNewestFirst) {
  const std::string page = server::calendar_page(comic("quorvel"), window);
  const std::string first =
      "\n<option value=\"/comics/quorvel/archive/cal-20240303.html\">Mar. 03, 2024\n";
  const std::string leap = "\n<option value=\"/comics/quorvel/archive/cal-20240229.html\">Feb. 29, 2024\n";
  const std::string last = "\n<option value=\"/comics/quorvel/archive/cal-20240228.html\">Feb. 28, 2024\n";
  ASSERT_NE(page.find(first), std::string::npos) << page;
  ASSERT_NE(page.find(leap), std::string::npos) << page;
  ASSERT_NE(page.find(last), std::string::npos) << page;
  EXPECT_LT(page.find(first), page.find(leap));
  EXPECT_LT(page.find(leap), page.find(last));
  EXPECT_EQ(count_lines_containing(page, "<option value=\"/comics/quorvel/archive/cal-"), 5);
}

TEST(ComicSite, NoDaysGiveAnEmptyCalendarAndNoDayPages) {
  const server::archive_window none{window.today, 0};
  EXPECT_EQ(count_lines_containing(server::calendar_page(comic("quorvel"), none), "/archive/cal-"), 0);
  EXPECT_EQ(server::serve("/comics/quorvel/archive/cal-20240303.html", none).status, 404);
}

TEST(ComicSite, DayPagesNameTheirImagesOnLinesOfTheirOwn) {
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
}

TEST(ComicSite, TitlesShowOneAmpersandEscapedForHtml) {
  EXPECT_EQ(server::display_title("Benny && Wren"), "Benny & Wren");
  EXPECT_EQ(server::display_title("A &&& B"), "A && B");
  EXPECT_EQ(server::escape_html("<a href=\"x\">&</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
  const std::string page = server::calendar_page(comic("bennywren"), window);
  EXPECT_NE(page.find("<h1>Benny &amp; Wren</h1>"), std::string::npos) << page;
  EXPECT_EQ(page.find("&&"), std::string::npos);
}

TEST(ComicSite, TheIndexLinksEveryCalendar) {
  const std::string page = server::index_page(window);
  for (const auto& row : app::Comics)
    EXPECT_NE(page.find("<a href=\"" + server::calendar_path(row) + "\">"), std::string::npos) << row.Key;
}

}  // namespace
