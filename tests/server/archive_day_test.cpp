// Date texts of the archive and the reading of dates.
#include "server/archive_day.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;

TEST(ArchiveDay, TextsOfOneDay) {
  const server::day d = sys_days{year{2024} / 9 / 1};
  EXPECT_EQ(server::compact_date(d), "20240901");
  EXPECT_EQ(server::iso_date(d), "2024-09-01");
  EXPECT_EQ(server::calendar_date(d), "Sep. 01, 2024");
  EXPECT_EQ(server::long_date(d), "Sunday, September 1, 2024");
  EXPECT_EQ(server::month_heading(d), "September 2024");
  EXPECT_TRUE(server::is_sunday(d));
  EXPECT_FALSE(server::is_sunday(d + days{1}));
  EXPECT_EQ(server::calendar_date(sys_days{year{2023} / 12 / 31}), "Dec. 31, 2023");
}

struct date_case {
  const char* text;
  bool ok;
  const char* reason;
};

class CompactDates : public testing::TestWithParam<date_case> {};

TEST_P(CompactDates, AreReadOnlyWhenValid) {
  const auto d = server::parse_compact_date(GetParam().text);
  EXPECT_EQ(d.has_value(), GetParam().ok) << GetParam().reason;
  if (d) {
    EXPECT_EQ(server::compact_date(*d), GetParam().text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ArchiveDay, CompactDates,
    testing::Values(date_case{"20240229", true, "a leap day"},
                    date_case{"20230229", false, "no leap day in 2023"},
                    date_case{"20241301", false, "month 13"},
                    date_case{"20240100", false, "day 0"},
                    date_case{"2024010", false, "seven digits"},
                    date_case{"202401011", false, "nine digits"},
                    date_case{"2024 101", false, "a blank"},
                    date_case{"+2024011", false, "a sign"}));

TEST(ArchiveDay, IsoDatesNeedTheirDashes) {
  EXPECT_EQ(server::parse_iso_date("2024-01-02"), sys_days{year{2024} / 1 / 2});
  EXPECT_FALSE(server::parse_iso_date("20240102"));
  EXPECT_FALSE(server::parse_iso_date("2024/01/02"));
  EXPECT_FALSE(server::parse_iso_date("2024-02-30"));
}

}  // namespace
