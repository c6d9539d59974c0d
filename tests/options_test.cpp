// The options read directly into a settings record: defaults, overriding,
// quoting, switches, the catalogue lookup and the two options that end the
// program.
#include "app/options.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "app/comics.hpp"
#include "lib/system.hpp"

namespace {

using app::HandleOptions;
using app::TSettings;

// The settings after DefaultParams and then `command_line`.
TSettings after(const std::string& command_line) {
  TSettings settings;
  HandleOptions(app::DefaultParams, settings);
  HandleOptions(command_line, settings);
  return settings;
}

// What an option that ends the program wrote, and the exit code it asked for.
struct ended {
  int exit_code = -1;
  std::string out;
};

ended run_to_halt(const std::string& line, TSettings& settings) {
  std::ostringstream out;
  std::streambuf* old = std::cout.rdbuf(out.rdbuf());
  ended result;
  try {
    HandleOptions(line, settings);
  } catch (const qlib::halt_request& request) {
    result.exit_code = request.exit_code;
  }
  std::cout.rdbuf(old);
  result.out = out.str();
  return result;
}

TEST(Options, NoOptions) {
  const TSettings settings = after("");
  EXPECT_EQ(app::Comics[settings.ComicIndex].Key, "quorvel");
  EXPECT_EQ(settings.ComicIndex, 7);
  EXPECT_EQ(settings.TargetDir, ".");
  EXPECT_TRUE(settings.ShowProgress);
  EXPECT_EQ(settings.ProxyServer, "");
  EXPECT_FALSE(settings.NoCacheSetting);
}

TEST(Options, EachOption) {
  const struct {
    const char* line;
    TSettings expected;
    const char* why;
  } rows[] = {
      {"/proxy=\"cache:8080\"", {"cache:8080", ".", true, false, 7}, "a quoted proxy loses its quotes"},
      {"/proxy=\"a\"\"b\"", {"a\"b", ".", true, false, 7}, "and its doubled quotes become one"},
      {"/proxy=cache:3128", {"cache:3128", ".", true, false, 7}, "a plain proxy"},
      {"/target=\"c:/x y\"", {"", "\"c:/x y\"", true, false, 7}, "a quoted target keeps its quotes"},
      {"/target=", {"", "", true, false, 7}, "an empty target"},
      {"/target=comics", {"", "comics", true, false, 7}, "the command line overrides the default"},
      {"/verbatim=N", {"", ".", false, false, 7}, "no progress"},
      {"/verbatim", {"", ".", true, false, 7}, "a bare switch is yes"},
      {"/omit_proxy", {"", ".", true, true, 7}, "a bare omit_proxy turns it on"},
      {"/omit_proxy=yes", {"", ".", true, true, 7}, "so does any yes"},
      {"/omit_proxy=y /omit_proxy=n", {"", ".", true, false, 7}, "a later option overrides"},
      {"/mode=cricket", {"", ".", true, false, 22}, "another comic"},
      {"/MODE=Cricket", {"", ".", true, false, 22}, "name and value in any case"},
      {"/mode=cricket /mode=owlfred", {"", ".", true, false, 29}, "the later mode wins"},
      {"/ver /foo=bar /Target2=x", {"", ".", true, false, 7}, "other names are ignored"},
      {"/target=%quorvel_no_such_var%x", {"", "x", true, false, 7}, "references are expanded"},
      {"@@options.txt /verbatim=n", {"", ".", false, false, 7}, "an optional include is skipped"},
  };
  for (const auto& row : rows) {
    const TSettings settings = after(row.line);
    EXPECT_EQ(settings.ProxyServer, row.expected.ProxyServer) << row.why;
    EXPECT_EQ(settings.TargetDir, row.expected.TargetDir) << row.why;
    EXPECT_EQ(settings.ShowProgress, row.expected.ShowProgress) << row.why;
    EXPECT_EQ(settings.NoCacheSetting, row.expected.NoCacheSetting) << row.why;
    EXPECT_EQ(settings.ComicIndex, row.expected.ComicIndex) << row.why;
  }
}

TEST(Options, EveryKeySelectsItsRow) {
  for (std::size_t row = 0; row < app::Comics.size(); ++row) {
    const std::string key(app::Comics[row].Key);
    EXPECT_EQ(after("/mode=" + key).ComicIndex, row) << key;
    std::string upper = key;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    EXPECT_EQ(after("/mode=" + upper).ComicIndex, row) << upper;
  }
}

TEST(Options, AKeyNotInTheCatalogue) {
  for (const char* line : {"/mode=nosuch", "/mode=quorvel /mode=nosuch", "/mode=", "/mode"}) {
    TSettings settings;
    try {
      HandleOptions(line, settings);
      ADD_FAILURE() << line << ": no error";
    } catch (const qlib::te_& error) {
      EXPECT_EQ(error.code(), 2024) << line;
      EXPECT_EQ(error.context(), "/task_nr=0/task_name=\"Main program\"") << line;
    }
  }
}

TEST(Options, ErrorsOfTheValues) {
  for (const auto& [line, code] : {std::pair{"/verbatim=maybe", 201}, std::pair{"/verbatim=", 106},
                                   std::pair{"/omit_proxy=true", 201}, std::pair{"@options.txt", 2462}}) {
    TSettings settings;
    try {
      HandleOptions(line, settings);
      ADD_FAILURE() << line << ": no error";
    } catch (const qlib::te_& error) {
      EXPECT_EQ(error.code(), code) << line;
    }
  }
}

TEST(Options, HelpAndListEndTheProgram) {
  TSettings settings;
  ended result = run_to_halt("/help /target=x", settings);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, app::UsageText());
  EXPECT_EQ(settings.TargetDir, "") << "nothing after help is read";

  result = run_to_halt("/target=y /mode=LIST /help", settings);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, app::ComicList());
  EXPECT_EQ(settings.TargetDir, "y") << "what came before is applied";
}

}  // namespace
