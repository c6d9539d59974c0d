// Unit _OS: references, paths, the command-line tail, list items, directory
// walks and searches, on a real temporary directory tree.
#include "lib/os.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lib/chars.hpp"
#include "platform/process.hpp"
#include "tests/support/run.hpp"

namespace {

namespace fs = std::filesystem;
using testing_support::temp_dir;
using testing_support::library_path;
using testing_support::write_file;

int error_code_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const qlib::te_& error) {
    return error.code();
  }
  return 0;
}

// Sets an environment variable for one test and puts back what was there.
class scoped_env {
 public:
  scoped_env(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~scoped_env() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Runs a test in another current directory and goes back afterwards.
class scoped_cwd {
 public:
  explicit scoped_cwd(const std::string& path) : old_(fs::current_path()) { fs::current_path(path); }
  ~scoped_cwd() { fs::current_path(old_); }

 private:
  fs::path old_;
};

// expand_vars with a lookup of its own, so that the rows show the syntax.
std::string fake_lookup(std::string_view name) {
  static const std::map<std::string, std::string, std::less<>> values = {
      {"path", "P"}, {"A_b?9!@", "odd"}, {"y", "Y"}, {"big", std::string(200, 'b')}};
  const auto found = values.find(name);
  return found == values.end() ? std::string() : found->second;
}

class ExpandVars : public testing::Test {
 protected:
  void SetUp() override { qlib::var_lookup = fake_lookup; }
  void TearDown() override { qlib::var_lookup = qlib::env_lookup; }
};

TEST_F(ExpandVars, ReferenceSyntax) {
  const struct {
    const char* text;
    std::string expected;
    const char* why;
  } rows[] = {
      {"%%", "%", "a doubled percent is one percent"},
      {"%path%", "P", "a reference"},
      {"%path", "P", "the closing percent is optional"},
      {"%path;x", "P;x", "the name ends at a character that cannot be in it"},
      {"50%", "50", "a percent at the end looks up the empty name"},
      {"a%-b", "a-b", "a percent before a non-name character too"},
      {"%A_b?9!@%", "odd", "every kind of name character"},
      {"x%%%y%", "x%Y", "a doubled percent, then a reference"},
      {"%[x%", "[x", "'[' is not a name character"},
      {"no refs", "no refs", "text without references is copied"},
      {"%big%%big%", std::string(255, 'b'), "the result is cut to 255 characters"},
  };
  for (const auto& row : rows) EXPECT_EQ(qlib::expand_vars(row.text), row.expected) << row.why;
}

TEST(EnvLookup, EnvironmentNamesIgnoreCaseAndLongValuesAreCutTo255) {
  scoped_env mixed("QuorvelMixedCase", "mixed");
  scoped_env long_value("QUORVEL_LONG", std::string(300, 'v'));
  EXPECT_EQ(qlib::expand_vars("%QUORVELMIXEDCASE%"), "mixed");
  EXPECT_EQ(qlib::expand_vars("%quorvelmixedcase%"), "mixed");
  EXPECT_EQ(qlib::expand_vars("%quorvel_no_such_var%"), "");
  EXPECT_EQ(qlib::env_lookup("quorvel_long"), std::string(255, 'v'));
}

// PATH comes with ";" between its directories, as the library splits it;
// no other variable is changed.
TEST(EnvLookup, PathInTheFormTheLibrarySplits) {
  scoped_env path("PATH", "/x:/usr/bin::/y");
  scoped_env other("QUORVEL_COLONS", "a:b");
  EXPECT_EQ(qlib::expand_vars("%PATH%"), "/x;/usr/bin;;/y");
  EXPECT_EQ(qlib::expand_vars("%path%"), "/x;/usr/bin;;/y");
  EXPECT_EQ(qlib::expand_vars("%Path%"), "/x;/usr/bin;;/y");
  EXPECT_EQ(qlib::expand_vars("%quorvel_colons%"), "a:b");
}

TEST(EnvLookup, Markers) {
  scoped_env set("QUORVEL_SET", "value");
  EXPECT_EQ(qlib::expand_vars("%?quorvel_no_such_var%"), "%?quorvel_no_such_var%");
  EXPECT_EQ(qlib::expand_vars("%?QUORVEL_SET%"), "value");
  EXPECT_EQ(qlib::expand_vars("%!QUORVEL_SET%"), "value");
  EXPECT_EQ(qlib::expand_vars("%!!QUORVEL_SET%"), "value");
  EXPECT_EQ(qlib::env_lookup(""), "");
  try {
    qlib::expand_vars("%!quorvel_no_such_var%");
    FAIL() << "no error";
  } catch (const qlib::te_& error) {
    EXPECT_EQ(error.code(), 2270);
    EXPECT_EQ(error.context().rfind("/unit=_os", 0), 0u) << error.context();
  }
  EXPECT_EQ(error_code_of([] { qlib::expand_vars("%!!quorvel_no_such_var%"); }), 2271);
  EXPECT_EQ(error_code_of([] { qlib::expand_vars("%!!%"); }), 2271);
}

TEST(EnvLookup, EwdIsTheProgramsOwnDirectory) {
  const fs::path program = fs::read_symlink("/proc/self/exe");
  const std::string expected = library_path(program.parent_path().string()) + "\\";
  EXPECT_EQ(qlib::expand_vars("%_ewd%"), expected);
  EXPECT_EQ(qlib::expand_vars("%_EWD%"), expected);
}

TEST(Paths, NormalizeAndCompose) {
  scoped_env dir("QUORVEL_DIR", "c:/strips");
  const struct {
    std::string actual;
    const char* expected;
    const char* why;
  } rows[] = {
      {qlib::expand_dir("c:/comics//new"), "C:\\COMICS\\NEW\\", "slashes turned, pairs collapsed"},
      {qlib::expand_dir("\\\\server\\share"), "\\\\SERVER\\SHARE\\", "a network path keeps its pair"},
      {qlib::expand_dir("."), ".\\", "the current directory"},
      {qlib::expand_dir("c:"), "C:", "a drive alone gets no separator"},
      {qlib::expand_dir(""), "", "an empty directory stays empty"},
      {qlib::expand_dir("  comics"), "COMICS\\", "leading blanks are trimmed"},
      {qlib::expand_dir("comics "), "COMICS \\", "the separator comes before the trimming"},
      {qlib::expand_dir("a\\\\\\b\\"), "A\\B\\", "a run of separators becomes one"},
      {qlib::expand_dir("%quorvel_dir%/new"), "C:\\STRIPS\\NEW\\", "references are expanded"},
      {qlib::normalize_path("//srv//share/x"), "\\\\SRV\\SHARE\\X", "network path from slashes"},
      {qlib::make_path("c", "dir", "name", "ext"), "C:DIR\\NAME.EXT", "one-letter drive gets a colon"},
      {qlib::make_path("", "dir/", "name.", "ext"), "DIR\\NAME.EXT", "no second dot or separator"},
      {qlib::make_path("", "", "name", ".ext"), "NAME.EXT", "the extension brings its dot"},
      {qlib::make_path("", "", "", "ext"), "EXT", "no dot without a name"},
      {qlib::make_path("\\\\srv", "share", "x", ""), "\\\\SRV\\SHARE\\X", "network drive"},
      {qlib::make_path("", "c:", "x", "y"), "C:X.Y", "a directory ending in a colon"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.actual, row.expected) << row.why;
}

TEST(Paths, Parts) {
  const struct {
    const char* path;
    const char* drive;
    const char* dir;
    const char* name;
    const char* ext;
    const char* name_ext;
    const char* why;
  } rows[] = {
      {"C:\\DIR\\LONGFILENAME.TEXT", "C:", "\\DIR\\", "LONGFILE", "TEX", "LONGFILE.TEX",
       "name cut to 8, extension to 3"},
      {"A.B.C", "", "", "A", "B.C", "A.B.C", "the extension starts at the first dot"},
      {"readme", "", "", "README", "", "README.", "the dot is always there"},
      {"\\\\SERVER\\SHARE\\DIR\\X.GIF", "\\\\SERVER\\SHARE", "\\DIR\\", "X", "GIF", "X.GIF",
       "the drive of a network path is server and share"},
      {"\\\\SERVER", "\\\\SERVER", "", "", "", ".", "a server without a share"},
      {"c:x.y", "C:", "", "X", "Y", "X.Y", "a drive without a directory"},
      {"dir.d\\file", "", "DIR.D\\", "FILE", "", "FILE.", "a dot in the directory is not counted"},
      {".\\options.txt", "", ".\\", "OPTIONS", "TXT", "OPTIONS.TXT", "relative directory"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(qlib::path_drive(row.path), row.drive) << row.why;
    EXPECT_EQ(qlib::path_dir(row.path), row.dir) << row.why;
    EXPECT_EQ(qlib::path_name(row.path), row.name) << row.why;
    EXPECT_EQ(qlib::path_ext(row.path), row.ext) << row.why;
    EXPECT_EQ(qlib::path_name_ext(row.path), row.name_ext) << row.why;
    EXPECT_EQ(qlib::path_drive_dir(row.path), std::string(row.drive) + row.dir) << row.why;
  }
}

// Gives the process another command line for one test.
class CommandTail : public testing::Test {
 protected:
  void TearDown() override {
    static char program[] = "os_test";
    char* argv[] = {program, nullptr};
    platform::set_args(1, argv);
  }
  static std::string tail_of(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    platform::set_args(static_cast<int>(argv.size()), argv.data());
    return qlib::command_tail();
  }
};

TEST_F(CommandTail, EverythingAfterTheProgramName) {
  EXPECT_EQ(tail_of({"prog.exe", "/mode=list"}), "/mode=list");
  EXPECT_EQ(tail_of({"prog.exe"}), "");
  EXPECT_EQ(tail_of({"prog.exe", "/a", "/b"}), "/a /b");
  EXPECT_EQ(tail_of({"C:\\Program Files\\q.exe", "/a \"b c\""}), "/a \"b c\"")
      << "a program path with a blank is skipped whole";
  EXPECT_EQ(tail_of({"my tools/q", "-h"}), "-h");
  EXPECT_EQ(tail_of({"my tools/q"}), "");
  EXPECT_EQ(tail_of({"prog", "", "x"}), " x") << "only one blank is skipped";
  EXPECT_EQ(tail_of({"prog", std::string(300, 'x')}), std::string(255, 'x'));
}

// Non-empty items, untrimmed, cut to the length given; an error from the
// body ends the iteration.
TEST(ListItems, NonEmptyItemsUntrimmedAndCutUntilTheBodyRaises) {
  std::vector<std::string> items;
  const auto collect = [&](const std::string& item) { items.push_back(item); };
  qlib::for_each_list_item(".;;a;b c; ;", 255, collect);
  qlib::for_each_list_item("abcdef;gh", 3, collect);
  EXPECT_EQ(items, (std::vector<std::string>{".", "a", "b c", " ", "abc", "gh"}));

  items.clear();
  EXPECT_EQ(error_code_of([&] {
              qlib::for_each_list_item("a;b;c", 255, [&](const std::string& item) {
                collect(item);
                if (items.size() == 2) throw qlib::make_error(77, "");
              });
            }),
            77);
  EXPECT_EQ(items.size(), 2u);
}

TEST(Attributes, FilterLetters) {
  using namespace qlib;
  const struct {
    const char* filter;
    std::uint8_t attributes;
    int expected;  // 1 passes, 0 fails, else the error code
    const char* why;
  } rows[] = {
      {"", 0xFF, 1, "an empty filter passes everything"},
      {"D", attr_directory, 1, "required and there"},
      {"D", attr_archive, 0, "required and missing"},
      {"d", attr_archive, 1, "forbidden and missing"},
      {"d", attr_directory, 0, "forbidden and there"},
      {"Ad", attr_archive, 1, "all letters must hold"},
      {"rA", attr_archive | attr_readonly, 0, "one failing letter fails the filter"},
      {"RHS", attr_readonly | attr_hidden | attr_system, 1, "read-only, hidden, system"},
      {"x", 0, 2024, "a letter outside rhsda"},
      {"V", attr_volume, 2024, "the volume label is no filter letter"},
      {"dx", attr_directory, 2024, "a bad letter fails even after a failing one"},
  };
  for (const auto& row : rows) {
    if (row.expected > 1) {
      EXPECT_EQ(error_code_of([&] { attr_matches(row.filter, row.attributes); }), row.expected)
          << row.why;
      continue;
    }
    EXPECT_EQ(attr_matches(row.filter, row.attributes), row.expected == 1) << row.why;
  }
  EXPECT_EQ(attr_letters(attr_readonly | attr_directory | attr_archive), "RDA");
  EXPECT_EQ(attr_letters(0xFF), "RHSVDA??");
}

// Makes the files, each with its directories, in `dir`.
void make_files(const temp_dir& dir, const std::map<std::string, std::string>& files) {
  for (const auto& [name, contents] : files) {
    fs::create_directories(fs::path(dir / name).parent_path());
    write_file(dir / name, contents);
  }
}

// A directory with a subdirectory, a file and a name starting with ".".
class DirWalk : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "Sub");
    make_files(dir_, {{"a.txt", "12345"}, {".hidden", ""}});
  }
  std::vector<std::string> names(const std::string& filter) {
    std::vector<std::string> found;
    qlib::for_each_dir_entry(dir_.path(), filter,
                             [&](const qlib::dir_entry& entry) { found.push_back(entry.name); });
    std::sort(found.begin(), found.end());
    return found;
  }
  temp_dir dir_;
};

TEST_F(DirWalk, FiltersAndDotNames) {
  EXPECT_EQ(names("D"), std::vector<std::string>{"Sub"});
  EXPECT_EQ(names("d"), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(names(""), (std::vector<std::string>{"Sub", "a.txt"}));
  EXPECT_EQ(qlib::last_find_error, 18) << "the walk ends when the entries are exhausted";
}

// The local time 2023-04-05 13:47:39: every field differs from the others, so
// that a field taken from the wrong bits shows.
std::time_t known_write_time() {
  std::tm local{};
  local.tm_year = 2023 - 1900;
  local.tm_mon = 4 - 1;
  local.tm_mday = 5;
  local.tm_hour = 13;
  local.tm_min = 47;
  local.tm_sec = 39;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

void set_write_time(const std::string& path, std::time_t when) {
  std::error_code error;
  std::filesystem::last_write_time(
      path, std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(when)), error);
  ASSERT_FALSE(error) << path << ": " << error.message();
}

TEST_F(DirWalk, EntryFields) {
  set_write_time(dir_ / "a.txt", known_write_time());
  std::map<std::string, qlib::dir_entry> entries;
  qlib::for_each_dir_entry(library_path(dir_.path()), "",
                           [&](const qlib::dir_entry& entry) { entries[entry.name] = entry; });
  ASSERT_EQ(entries.size(), 2u);
  const auto& file = entries.at("a.txt");
  EXPECT_EQ(file.attrs, "A");
  EXPECT_EQ(file.size, 5u);
  EXPECT_EQ(file.hundredths, 0);
  EXPECT_EQ(file.seconds, 38) << "two-second resolution";
  EXPECT_EQ(file.minutes, 47);
  EXPECT_EQ(file.hours, 13);
  EXPECT_EQ(file.day, 5);
  EXPECT_EQ(file.month, 4);
  EXPECT_EQ(file.year, 2023);
  EXPECT_EQ(entries.at("Sub").attrs, "D");
}

TEST_F(DirWalk, TheSizeKeepsItsLow32Bits) {
  const std::string path = dir_ / "a.txt";
  // Sparse: no disk space is used for the 4 GiB hole.
  std::error_code error;
  std::filesystem::resize_file(path, (std::uintmax_t{1} << 32) + 1234, error);
  ASSERT_FALSE(error) << error.message();
  std::uint32_t size = 0;
  qlib::for_each_dir_entry(dir_.path(), "d", [&](const qlib::dir_entry& entry) { size = entry.size; });
  EXPECT_EQ(size, 1234u);
}

TEST_F(DirWalk, ABadFilterFailsAndAMissingDirectoryYieldsNothing) {
  int runs = 0;
  const auto count = [&](const qlib::dir_entry&) { ++runs; };
  EXPECT_EQ(error_code_of([&] { qlib::for_each_dir_entry(dir_.path(), "x", count); }), 2024);
  qlib::for_each_dir_entry(dir_ / "missing", "", count);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(qlib::last_find_error, 3);
}

std::size_t open_descriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST_F(DirWalk, TheFindIsClosedWhenTheBodyRaises) {
  const std::size_t before = open_descriptors();
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(error_code_of([&] {
                qlib::for_each_dir_entry(dir_.path(), "",
                                         [](const qlib::dir_entry&) { throw qlib::make_error(5, ""); });
              }),
              5);
  }
  EXPECT_EQ(open_descriptors(), before);
}

class Search : public testing::Test {
 protected:
  void SetUp() override {
    make_files(first_, {{"Options.txt", "first"}, {"Sub/Deep.txt", ""}, {"README", ""}});
    make_files(second_, {{"options.TXT", "second"}, {"only2.txt", ""}});
  }
  temp_dir first_;
  temp_dir second_;
};

TEST_F(Search, AlongADirectoryList) {
  const std::string list = first_.path() + ";" + second_.path();
  const struct {
    std::string list;
    std::string name;
    std::string found;
    const char* why;
  } rows[] = {
      {list, "options.txt", library_path(first_ / "Options.txt"), "the first directory wins"},
      {list, "ONLY2.TXT", library_path(second_ / "only2.txt"), "the name ignores case"},
      {first_ / "nosuch;" + list, "only2.txt", library_path(second_ / "only2.txt"),
       "a missing directory is passed over"},
      {list, "missing.txt", "", "in no directory"},
      {second_.path(), first_ / "sub/deep.txt", library_path(first_ / "Sub/Deep.txt"),
       "a name with a directory is looked for there"},
      {first_.path(), second_ / "nosuch.txt", "", "and there only"},
      {"", first_ / "readme", "", "the name becomes \"README.\", which no entry is called"},
      {first_.path(), "AB:CD", "", "a name that derives itself ends without a result"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(qlib::search_path(row.list, row.name), row.found) << row.why;
}

TEST_F(Search, TheNamesOwnDirectoryIsOneItemEvenWithASemicolon) {
  // b/x.txt is what splitting at ";" would find.
  make_files(first_, {{"a;b/x.txt", ""}, {"b/x.txt", ""}});
  scoped_cwd cwd(first_.path());
  EXPECT_EQ(qlib::search_path(".", "a;b\\x.txt"), "A;B\\X.TXT");
  EXPECT_EQ(qlib::search_path(".", "a;nosuch\\x.txt"), "");
}

TEST_F(Search, ErrorsOtherThanTheBreakPassThrough) {
  EXPECT_EQ(error_code_of([&] { qlib::search_path("%!quorvel_no_such_var%", "x"); }), 2270);
}

TEST_F(Search, OnPathAndOnTheProgramsDirectory) {
  scoped_env path("PATH", first_ / "nosuch" + ":" + second_.path() + ":" + first_.path());
  temp_dir empty;
  {
    scoped_cwd cwd(first_.path());
    EXPECT_EQ(qlib::search_on_path("options.txt"), ".\\OPTIONS.TXT") << "the current directory first";
  }
  scoped_cwd cwd(empty.path());
  EXPECT_EQ(qlib::search_on_path("options.txt"), library_path(second_ / "options.TXT"))
      << "then the directories of PATH in order";
  EXPECT_EQ(qlib::search_on_path("readme"), library_path(first_ / "README"));
  EXPECT_EQ(qlib::search_on_path("readme."), "");

  const fs::path program = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(qlib::search_on_ewd_path(program.filename().string()), library_path(program.string()));
}

}  // namespace
