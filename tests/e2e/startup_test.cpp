// The program's start-up: banner listing, the banner line, and the top-level
// report of an error that leaves the main block.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/run.hpp"

namespace {

using testing_support::lines_of;
using testing_support::run;

const std::string banner = "Quorvel V1.0   (c) 2026 the quorvel developers\n\n";

// The units in their start-up order, by the file each banner names.
const std::vector<std::string> unit_files = {"system", "types", "math", "chars",
                                             "convert", "debug", "lists", "os",
                                             "times", "tasks", "params", "gio"};

void expect_unit_banners(const std::vector<std::string>& lines) {
  ASSERT_GE(lines.size(), unit_files.size());
  for (std::size_t i = 0; i < unit_files.size(); ++i) {
    EXPECT_EQ(lines[i].size(), 60u) << lines[i];
    EXPECT_EQ(lines[i].rfind("/quorvel/lib/" + unit_files[i] + ".cpp ", 0), 0u) << lines[i];
  }
}

// After the banners quorvel runs as usual, a download from the catalogue's
// address included, so every run here is in a scratch directory. The download
// ends in order when a comics server answers there, else with the report
// that the calendar could not be fetched.
testing_support::run_result run_in(const testing_support::temp_dir& cwd,
                                   const std::vector<std::string>& args) {
  return run(QUORVEL_BIN, args, testing_support::in_dir(cwd.path()));
}

void expect_the_download_ran(const testing_support::run_result& result) {
  const bool reported = result.out.find("Error # 2030 /url=") != std::string::npos;
  EXPECT_EQ(result.exit_code, reported ? 1 : 0) << result.out;
}

TEST(Startup, VerListsTwelveUnitBannersBeforeTheBanner) {
  testing_support::temp_dir cwd;
  const auto result = run_in(cwd, {"/ver"});
  expect_the_download_ran(result);
  const auto lines = lines_of(result.out);
  expect_unit_banners(lines);
  ASSERT_GE(lines.size(), 14u);
  EXPECT_EQ(lines[12] + "\n" + lines[13] + "\n", banner);
}

TEST(Startup, VerWithFileAppendsTheBannersThere) {
  testing_support::temp_dir cwd;
  const std::string file = cwd / "banners.txt";
  auto result = run_in(cwd, {"/ver=" + file});
  expect_the_download_ran(result);
  EXPECT_EQ(result.out.substr(0, banner.size()), banner);
  auto lines = lines_of(testing_support::read_file(file));
  EXPECT_EQ(lines.size(), 12u);
  expect_unit_banners(lines);

  run_in(cwd, {"/ver=" + file});
  lines = lines_of(testing_support::read_file(file));
  EXPECT_EQ(lines.size(), 24u);  // appended, not replaced
}

// The banner file is named like every other file: "\" separates directories
// and an existing name is found whatever its case.
TEST(Startup, TheBannerFileGoesThroughThePathMapping) {
  testing_support::temp_dir cwd;
  std::filesystem::create_directory(cwd / "sub");
  testing_support::write_file(cwd / "Banners.txt", "");
  run_in(cwd, {"/ver=sub\\b.txt"});
  run_in(cwd, {"/ver=BANNERS.TXT"});
  EXPECT_EQ(lines_of(testing_support::read_file(cwd / "sub/b.txt")).size(), 12u);
  EXPECT_EQ(lines_of(testing_support::read_file(cwd / "Banners.txt")).size(), 12u);
  EXPECT_FALSE(testing_support::file_exists(cwd / "sub\\b.txt"));
  EXPECT_FALSE(testing_support::file_exists(cwd / "BANNERS.TXT"));
}

TEST(Startup, VerIsABannerRequestOnlyAsTheSingleParameter) {
  testing_support::temp_dir cwd;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/ver", "x"}, std::vector<std::string>{"/VER"},
        std::vector<std::string>{"/version"}}) {
    const auto result = run_in(cwd, args);
    EXPECT_EQ(result.out.substr(0, banner.size()), banner) << args[0];
  }
}

// The task unit's start-up: the main program's errors end with its name; in
// banner mode no task is set up and errors carry no suffix.
TEST(Startup, TaskRecordsAndTheSuffixOfErrors) {
  auto result = run(TASKS_PROG_BIN, {});
  EXPECT_EQ(result.exit_code, 1);
  auto lines = lines_of(result.out);
  ASSERT_EQ(lines.size(), 3u) << result.out;
  EXPECT_EQ(lines[0], "tasks: Main program, Dispatcher, Stopper");
  EXPECT_EQ(lines[2], "Error # 2024 /task_nr=0/task_name=\"Main program\".");

  result = run(TASKS_PROG_BIN, {"/ver"});
  EXPECT_EQ(result.exit_code, 1);
  lines = lines_of(result.out);
  ASSERT_EQ(lines.size(), unit_files.size() + 3) << result.out;
  expect_unit_banners(lines);
  EXPECT_EQ(lines[12], "no tasks");
  EXPECT_EQ(lines[14], "Error # 2024 .");
}

// Design rule: the report is worded in English, with the full-width code
// address (16 hexadecimal digits on a 64-bit build), the class and program.
// The report's first line; on Windows the program's file ends in ".exe".
std::regex report_head(const std::string& class_name, const std::string& program) {
  return std::regex("Exception " + class_name + " in module " + program +
                    "(\\.exe)? at [0-9A-F]{16}\\.");
}

// The lines of a raise_prog run that `how` makes fail, at least `least` of them.
std::vector<std::string> failed_run(const std::string& how, std::size_t least) {
  const auto result = run(RAISE_PROG_BIN, {how});
  EXPECT_EQ(result.exit_code, 1) << how;
  auto lines = lines_of(result.out);
  EXPECT_GE(lines.size(), least) << result.out;
  lines.resize(std::max(lines.size(), least));
  return lines;
}

TEST(TopLevelReport, TeLeavingTheMainBlock) {
  const auto lines = failed_run("te", 4);
  EXPECT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "main block");
  EXPECT_TRUE(std::regex_match(lines[1], report_head("te_", "raise_prog"))) << lines[1];
  EXPECT_NE(lines[1], "Exception te_ in module raise_prog at 0000000000000000.");
  EXPECT_EQ(lines[2], "Error # 2024 /task_nr=0/task_name=\"Main program\".");
  EXPECT_EQ(lines[3], "exit procedure ran");  // clean-up still runs
}

TEST(TopLevelReport, NoSecondDotAfterAMessageEndingInADot) {
  // The break code runs no context hook, so its message keeps its own end.
  EXPECT_EQ(failed_run("break", 3)[2], "BREAK /unit=_os/name=a.");
  EXPECT_EQ(failed_run("dotted", 3)[2], "Error # 7 /unit=_os/name=a./task_nr=0/task_name=\"Main program\".")
      << "the task suffix follows the context";
}

TEST(TopLevelReport, OtherErrorClasses) {
  auto lines = failed_run("convert", 3);
  EXPECT_TRUE(std::regex_match(lines[1], report_head("EConvertError", "raise_prog"))) << lines[1];
  EXPECT_EQ(lines[2], "'2x0' is not a valid integer value.");

  lines = failed_run("std", 4);
  EXPECT_TRUE(std::regex_match(lines[1], report_head("std::runtime_error", "raise_prog")))
      << lines[1];
  EXPECT_EQ(lines[2], "plain failure.");
  EXPECT_EQ(lines[3], "exit procedure ran");

  lines = failed_run("int", 3);  // not even an exception class
  EXPECT_EQ(lines[1].rfind("Exception ", 0), 0u) << lines[1];
  EXPECT_EQ(lines.back(), "exit procedure ran");
}

TEST(TopLevelReport, HaltEndsWithItsCodeAndRunsTheCleanUp) {
  const auto halt = run(RAISE_PROG_BIN, {"halt"});
  EXPECT_EQ(halt.exit_code, 3);
  EXPECT_EQ(halt.out, "main block\nexit procedure ran\n");
  const auto normal = run(RAISE_PROG_BIN, {});
  EXPECT_EQ(normal.exit_code, 0);
  EXPECT_EQ(normal.out, "main block\nnormal end\nexit procedure ran\n");
}

}  // namespace
