// The comics server's command line.
#include "server/server_options.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono;

struct address_case {
  const char* base_url;
  const char* host;
  int port;
  const char* reason;
};

class DefaultAddress : public testing::TestWithParam<address_case> {};

TEST_P(DefaultAddress, ComesFromTheCatalogueAddress) {
  std::string error;
  const auto options = server::parse_options({}, GetParam().base_url, error);
  ASSERT_TRUE(options) << GetParam().reason << ": " << error;
  EXPECT_EQ(options->host, GetParam().host) << GetParam().reason;
  EXPECT_EQ(options->port, GetParam().port) << GetParam().reason;
}

INSTANTIATE_TEST_SUITE_P(
    ServerOptions, DefaultAddress,
    testing::Values(address_case{"http://localhost:8642", "localhost", 8642, "the built-in address"},
                    address_case{"http://comics.test", "comics.test", 80, "no port: 80"},
                    address_case{"HTTP://127.0.0.1:9000/", "127.0.0.1", 9000, "scheme in capitals, a slash"}));

TEST(ServerOptions, ValuesAreReadInBothForms) {
  std::string error;
  const auto options = server::parse_options(
      {"--listen", "0.0.0.0:0", "--days=7", "--today", "2024-02-29", "--log", "--timeout", "5", "--latency=60000"},
      "http://localhost:8642", error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->host, "0.0.0.0");
  EXPECT_EQ(options->port, 0);
  EXPECT_EQ(options->days, 7);
  ASSERT_TRUE(options->today);
  EXPECT_EQ(*options->today, sys_days{year{2024} / 2 / 29});
  EXPECT_TRUE(options->log);
  EXPECT_EQ(options->timeout_seconds, 5);
  EXPECT_EQ(options->latency_ms, 60000);
  EXPECT_FALSE(options->help);
}

struct refused_case {
  std::vector<std::string> args;
  const char* reason;
};

class RefusedOptions : public testing::TestWithParam<refused_case> {};

TEST_P(RefusedOptions, SayWhy) {
  std::string error;
  EXPECT_FALSE(server::parse_options(GetParam().args, "http://localhost:8642", error)) << GetParam().reason;
  EXPECT_FALSE(error.empty()) << GetParam().reason;
}

INSTANTIATE_TEST_SUITE_P(
    ServerOptions, RefusedOptions,
    testing::Values(refused_case{{"--listen", ":80"}, "no host"},
                    refused_case{{"--listen", "host:"}, "no port"},
                    refused_case{{"--listen", "127.0.0.1"}, "no colon and no port"},
                    refused_case{{"--listen", "host:-1"}, "a sign in the port"},
                    refused_case{{"--listen", "127.0.0.1:65536"}, "a port beyond 65535"},
                    refused_case{{"--days"}, "a value missing at the end"},
                    refused_case{{"--archive="}, "an archive without its folder"},
                    refused_case{{"--days", "-1"}, "negative days"},
                    refused_case{{"--days", "3661"}, "beyond the limit"},
                    refused_case{{"--days", ""}, "empty"},
                    refused_case{{"--days", "many"}, "no number"},
                    refused_case{{"--today", "2024-2-29"}, "month without two digits"},
                    refused_case{{"--today", "0000-01-01"}, "year zero"},
                    refused_case{{"--today", "2023-02-29"}, "a date that does not exist"},
                    refused_case{{"--today", "05.03.2024"}, "a date in another form"},
                    refused_case{{"--timeout", "0"}, "no time at all"},
                    refused_case{{"--latency", "60001"}, "a latency beyond a minute"},
                    refused_case{{"--log=yes"}, "--log takes no value"},
                    refused_case{{"--version=1"}, "--version takes no value"},
                    refused_case{{"-x"}, "unknown"}));

TEST(ServerOptions, UsageNamesTheDefaultAddressInLinesOfEightyColumns) {
  const std::string text = server::usage_text("http://localhost:8642");
  EXPECT_NE(text.find("http://localhost:8642"), std::string::npos);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
  EXPECT_EQ(start, text.size()) << "the text ends with a line end";
}

TEST(ServerOptions, VersionAndHelpAreSwitches) {
  std::string error;
  const auto options = server::parse_options({"--version"}, "http://localhost:8642", error);
  ASSERT_TRUE(options) << error;
  EXPECT_TRUE(options->version);
  EXPECT_FALSE(options->help);
}

struct range_case {
  int days;
  bool fixed_today;
  const char* text;
  const char* reason;
};

class ArchiveRange : public testing::TestWithParam<range_case> {};

TEST_P(ArchiveRange, CountsTheDaysBeforeTheNewest) {
  server::server_options options;
  options.days = GetParam().days;
  if (GetParam().fixed_today) options.today = sys_days{year{2024} / 3 / 5};
  EXPECT_EQ(server::archive_range(options), GetParam().text) << GetParam().reason;
}

INSTANTIATE_TEST_SUITE_P(
    ServerOptions, ArchiveRange,
    testing::Values(range_case{0, false, "no archived days", "nothing is served"},
                    range_case{1, false, "today only", "one day is not one day before"},
                    range_case{2, false, "today and 1 day before", "one day, singular"},
                    range_case{30, false, "today and 29 days before", "the default"},
                    range_case{3, true, "2024-03-05 and 2 days before", "the date --today gave"},
                    range_case{1, true, "2024-03-05 only", "a fixed day alone"}));

}  // namespace
