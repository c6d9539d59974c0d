// The date-time value: encoding, decoding, "yymmdd" and the replaceable clock.
#include "platform/dates.hpp"

#include <gtest/gtest.h>

#include "platform/runtime.hpp"
#include "platform/test_hooks.hpp"

namespace {

TEST(Dates, KnownDayNumbers) {
  EXPECT_EQ(platform::EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(platform::EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(platform::EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(platform::EncodeDate(2000, 3, 1) - platform::EncodeDate(2000, 2, 28), 2.0);
}

TEST(Dates, DecodeIsTheInverseOverManyYears) {
  for (double day = platform::EncodeDate(1990, 1, 1); day < platform::EncodeDate(2110, 1, 1);
       day += 1.0) {
    int year = 0, month = 0, d = 0;
    platform::DecodeDate(day + 0.75, year, month, d);  // the time of day does not matter
    ASSERT_EQ(platform::EncodeDate(year, month, d), day);
  }
}

TEST(Dates, InvalidDatesRaiseTheConversionError) {
  EXPECT_THROW(platform::EncodeDate(2026, 0, 1), platform::EConvertError);
  EXPECT_THROW(platform::EncodeDate(2026, 13, 1), platform::EConvertError);
  EXPECT_THROW(platform::EncodeDate(2026, 4, 31), platform::EConvertError);
  EXPECT_THROW(platform::EncodeDate(2026, 1, 0), platform::EConvertError);
  EXPECT_THROW(platform::EncodeDate(2025, 2, 29), platform::EConvertError);
  EXPECT_THROW(platform::EncodeDate(1900, 2, 29), platform::EConvertError);  // century
  EXPECT_NO_THROW(platform::EncodeDate(2000, 2, 29));                       // 400 years
  EXPECT_NO_THROW(platform::EncodeDate(2028, 2, 29));
}

TEST(Dates, FormatsTwoDigitFields) {
  EXPECT_EQ(platform::FormatYYMMDD(platform::EncodeDate(2026, 12, 7)), "261207");
  EXPECT_EQ(platform::FormatYYMMDD(platform::EncodeDate(2001, 2, 3) + 0.99), "010203");
  EXPECT_EQ(platform::FormatYYMMDD(platform::EncodeDate(2100, 1, 31)), "000131");
}

TEST(Dates, ClockCanBeReplacedAndReset) {
  const double fixed = platform::EncodeDate(2024, 2, 29) + 0.5;
  platform::test_hooks::SetClock([fixed] { return fixed; });
  EXPECT_EQ(platform::Now(), fixed);
  platform::test_hooks::SetClock({});
  EXPECT_GT(platform::Now(), platform::EncodeDate(2020, 1, 1));
}

}  // namespace
