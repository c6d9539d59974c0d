// The built quorvel, run end to end: banner, usage text, comic list, option
// handling and the error report, compared byte for byte with the exit code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/report.hpp"
#include "tests/support/run.hpp"

namespace {

using testing_support::run;
using testing_support::in_dir;
using testing_support::run_options;
using testing_support::banner;
using testing_support::main_task;
using testing_support::masked;
using testing_support::report;

const std::string usage =
    "Usage: quorvel {options}\n"
    "[/mode={quorvel|cricket|..}] Select wether to get Quorvel or Cricket strips\n"
    "                             Default is of course quorvel\n"
    "                             For the full list of comics enter /mode=list\n"
    "[/target=]                   The directory for the comics, already existing\n"
    "                             ones won't be reloaded; default is the current\n"
    "                             directory\n"
    "[/proxy=server[:port]]       Don't download directly but via the proxy server\n"
    "[/verbatim={Y|N}]            Show progress; default Yes\n";

const std::string comic_list =
    "Possible settings of mode and the resulting comic\n"
    "\n"
    "/mode=amberpike           Amber Pike\n"
    "/mode=bennywren           Benny && Wren\n"
    "/mode=clover              Clover\n"
    "/mode=dustykid            Dusty Kid\n"
    "/mode=foglemen            The Fogle Men\n"
    "/mode=gadgets             The Gadgets\n"
    "/mode=hinged              Hinged\n"
    "/mode=quorvel             Quorvel\n"
    "/mode=jobble              Jobble\n"
    "/mode=kipnpeck            Kip && Peck\n"
    "/mode=lessmore            Less or More Today\n"
    "/mode=mortnotto           Mort && Otto\n"
    "/mode=nettlebys           The Nettlebys\n"
    "/mode=oswald              Oswald\n"
    "/mode=parkline            Park Line\n"
    "/mode=rivetncat           Rivet'N' Cat\n"
    "/mode=sabra               Sabra\n"
    "/mode=tobble              Tobble\n"
    "/mode=vinehall            Vinehall Nights\n"
    "/mode=wim                 Wim!\n"
    "/mode=yodie               Yodie\n"
    "/mode=zephyr              Under the Zephyr\n"
    "/mode=cricket             Cricket\n"
    "/mode=factor              Factor Check\n"
    "/mode=marvels             Marvels Told or Untold!\n"
    "/mode=gearman             Gearman\n"
    "/mode=lilyislily          Lily Is Lily\n"
    "/mode=tundra              Tundra\n"
    "/mode=pip                 Pip\n"
    "/mode=owlfred             Owlfred\n";

const std::string calendar = std::string(QUORVEL_BASE_URL) + "/comics/quorvel/archive/";

// The start of what a run prints when it goes on to the download of the
// default comic and nothing answers at its proxy: the report that the
// calendar cannot be fetched. The rest of that report is trust_test's.
const std::string download = [] {
  const std::string whole = report("Error # 2030 /url=" + calendar);
  return whole.substr(0, whole.size() - 2);  // without the ".\n" that ends it
}();

struct run_row {
  std::vector<std::string> args;
  std::string expected;  // after the banner; `download`: the start of the output
  int exit_code;
  const char* why;
};

class Driver : public testing::TestWithParam<run_row> {};

void PrintTo(const run_row& row, std::ostream* out) {
  for (const auto& arg : row.args) *out << arg << ' ';
}

TEST_P(Driver, PrintsAndEndsExactly) {
  const run_row& row = GetParam();
  testing_support::temp_dir cwd;  // a run that reaches the download writes nothing here
  const auto result = run(QUORVEL_BIN, row.args, in_dir(cwd.path()));
  std::string out = masked(result.out);
  if (row.expected == download) out = out.substr(0, banner.size() + download.size());
  EXPECT_EQ(out, banner + row.expected) << row.why;
  EXPECT_EQ(result.exit_code, row.exit_code) << row.why;
  EXPECT_EQ(result.err, "") << row.why;
  EXPECT_TRUE(testing_support::list_dir(cwd.path()).empty()) << row.why;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Driver,
    testing::Values(
        run_row{{"/proxy=127.0.0.1:1"},
                download, 1, "no other option: the download of the default comic"},
        run_row{{"/help"}, usage, 0, "the usage text"},
        run_row{{"/HELP"}, usage, 0, "option names in any case"},
        run_row{{"-help"}, usage, 0, "the other switch character"},
        run_row{{"--help"}, usage, 0, "alone, the help words people try print the usage"},
        run_row{{"-H"}, usage, 0, "help words in any case"},
        run_row{{"-?"}, usage, 0, "a help word"},
        run_row{{"/?"}, usage, 0, "a help word"},
        run_row{{"/proxy=127.0.0.1:1", "--help"},
                download, 1, "not alone: a later \"--\" is still a comment"},
        run_row{{"-h", "/proxy=127.0.0.1:1"},
                download, 1, "not alone: \"h\" is an unknown name, ignored"},
        run_row{{"/mode=list"}, comic_list, 0, "the comic list"},
        run_row{{"/Mode=LIST"}, comic_list, 0, "mode values in any case"},
        run_row{{"/mode=list", "/help"}, comic_list, 0, "list first: only the list"},
        run_row{{"/help", "/mode=list"}, usage, 0, "help first: only the usage text"},
        run_row{{"/mode=QUORVEL", "/verbatim=N", "/target=x", "/proxy=127.0.0.1:1"},
                download, 1, "valid options print nothing before the download's report"},
        run_row{{"/mode=cricket", "/mode=list"}, comic_list, 0, "a later mode overrides"},
        run_row{{"/mode=nosuch"}, report("Error # 2024 " + main_task), 1,
                "a key that is not in the catalogue"},
        run_row{{"/mode=quorvel", "/mode=nosuch"}, report("Error # 2024 " + main_task), 1,
                "the later, unknown key decides"},
        run_row{{"/verbatim=maybe"}, report("Error # 201 /unit=_convert" + main_task), 1,
                "a yes/no value that means neither"},
        run_row{{"/verbatim="}, report("Error # 106 /unit=_convert" + main_task), 1,
                "an empty yes/no value"},
        run_row{{"/a=(b"}, report("Error # 2452 /class=t_param" + main_task), 1,
                "a parameter line that does not scan"},
        run_row{{"@options.txt"},
                report("Error # 2462 /class=t_param/name=\"options.txt\"" + main_task), 1,
                "the program reads no parameter files"},
        run_row{{"@@options.txt", "/help"}, usage, 0, "an optional include is skipped"},
        run_row{{"/ver", "/help"}, usage, 0, "ver is ignored like any other name"},
        run_row{{"/connections=9", "/proxy=127.0.0.1:1"},
                report("Error # 2033 /connections=9/range=1-8" + main_task), 1,
                "more connections than a polite client keeps: the run ends before any request"},
        run_row{{"/connections=1+7", "/proxy=127.0.0.1:1"}, download, 1,
                "an integer expression, within the range: on to the download"},
        run_row{{"/connections=0"}, report("Error # 2033 /connections=0/range=1-8" + main_task), 1,
                "no connection at all is no way to fetch"},
        run_row{{"/help", std::string(249, 'x')}, usage, 0, "255 characters are read whole"},
        run_row{{"/target=" + std::string(234, 'x'), "/mode=cricket"},
                report("Error # 2032 /limit=255" + main_task), 1,
                "256 characters would lose the last: the run ends before any request"}));

// A program path with a blank, as the system writes it: in double quotes,
// skipped whole, so the options read as given.
TEST(DriverEnvironment, AProgramInAFolderWithABlankReadsItsOptions) {
  testing_support::temp_dir cwd;
  std::filesystem::create_directories(cwd / "my tools");
  // The program under test, or the Windows build that QUORVEL_COMMAND runs
  // with its first words ("wine PATH/quorvel.exe"), copied into the folder.
  std::vector<std::string> words{QUORVEL_BIN};
  if (const char* command = std::getenv("QUORVEL_COMMAND")) {
    std::istringstream split(command);
    words.assign(std::istream_iterator<std::string>(split), {});
  }
  const std::string copy = cwd / ("my tools/" + std::filesystem::path(words.back()).filename().string());
  std::filesystem::copy_file(words.back(), copy);
  words.back() = copy;
  run_options options = in_dir(cwd.path());
  for (const auto& args : {std::vector<std::string>{"-h"},
                           std::vector<std::string>{"/help", std::string(249, 'x')}}) {
    std::vector<std::string> line(words.begin() + 1, words.end());
    line.insert(line.end(), args.begin(), args.end());
    const auto result = run(words.front(), line, options);
    EXPECT_EQ(result.out, banner + usage) << args.front() << result.err;
    EXPECT_EQ(result.exit_code, 0) << args.front();
  }
}

TEST(DriverEnvironment, ReferencesInOptionValues) {
  testing_support::temp_dir cwd;
  run_options options = in_dir(cwd.path());
  options.set_env["QUORVEL_TEST_MODE"] = "list";
  auto result = run(QUORVEL_BIN, {"/mode=%quorvel_test_mode%"}, options);
  EXPECT_EQ(result.out, banner + comic_list);
  EXPECT_EQ(result.exit_code, 0);

  options.set_env["QUORVEL_TEST_MODE"] = "nosuch";
  result = run(QUORVEL_BIN, {"/mode=%QUORVEL_TEST_MODE%"}, options);
  EXPECT_EQ(masked(result.out), banner + report("Error # 2024 " + main_task));
  EXPECT_EQ(result.exit_code, 1);
}

// "@*" looks in the current directory and then along PATH; the program reads
// no parameter files, so the error names the file that the search found.
TEST(DriverEnvironment, SearchedIncludesNameTheFileFound) {
  testing_support::temp_dir cwd;
  testing_support::temp_dir bin;
  testing_support::write_file(bin / "opts.txt", "");
  std::filesystem::create_directories(cwd / "a;b");
  testing_support::write_file(cwd / "a;b/x.txt", "");
  std::filesystem::create_directories(cwd / "b");
  testing_support::write_file(cwd / "b/x.txt", "");
  run_options options = in_dir(cwd.path());
#ifdef _WIN32
  const std::string separator = ";";
#else
  const std::string separator = ":";
#endif
  options.set_env["PATH"] = bin / "nosuch" + separator + bin.path();

  const struct {
    const char* include;
    std::string found;
    const char* why;
  } rows[] = {
      {"@*opts.txt", testing_support::library_path(bin / "opts.txt"), "the second directory of PATH"},
      {"@*a;b\\x.txt", "A;B\\X.TXT", "the name's own directory, not split at its \";\""},
      {"@*nosuch.txt", "", "nothing found: an empty name"},
  };
  for (const auto& row : rows) {
    const auto result = run(QUORVEL_BIN, {row.include}, options);
    EXPECT_EQ(masked(result.out),
              banner + report("Error # 2462 /class=t_param/name=\"" + row.found + "\"" + main_task))
        << row.why;
    EXPECT_EQ(result.exit_code, 1) << row.why;
  }
}

}  // namespace
