// The file-system stand-ins: library paths mapped to host paths ignoring
// case, the existence test and the directory enumeration.
#include "platform/files.hpp"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include "platform/test_hooks.hpp"
#include "tests/support/run.hpp"
#include "tests/support/stepped_time.hpp"

namespace {

namespace fs = std::filesystem;
using testing_support::library_path;
using testing_support::temp_dir;
using testing_support::write_file;

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

TEST(HostPath, AnExactMatchWinsOverOneThatIgnoresCase) {
  // Names short and long give the same answers.
  for (const std::string name : {"abc", "quorvelarchive"}) {
    temp_dir dir;
    const std::string capital = upper(name.substr(0, 1)) + name.substr(1);
    for (const std::string& spelling : {name, upper(name), capital})
      fs::create_directories(dir / (spelling + "/x"));
    // No exact match: the smallest, whatever the order of the entries.
    const std::string mixed = name.substr(0, name.size() - 1) + upper(name.substr(name.size() - 1));
    EXPECT_EQ(platform::host_path(dir.path() + "\\" + mixed + "\\X"), dir / (upper(name) + "/x"));
    EXPECT_EQ(platform::host_path(dir.path() + "\\" + name + "\\X"), dir / (name + "/x"));
    EXPECT_EQ(platform::host_path(dir.path() + "\\" + capital + "\\X"), dir / (capital + "/x"));
    EXPECT_EQ(platform::host_path(dir.path() + "\\" + capital), dir / capital);
  }
}

// In `library` a "*" stands for the library spelling of a directory holding
// Comics/Old/qv010203.gif, tree/sub and tree/a.txt, in `host` for its path;
// rows without one map the text alone.
struct host_case {
  const char* library;
  const char* host;
  const char* reason;
};

void PrintTo(const host_case& row, std::ostream* out) { *out << row.reason; }

class HostPathMapping : public testing::TestWithParam<host_case> {};

TEST_P(HostPathMapping, ResolvesDotsOnTheTextAndMatchesComponentsIgnoringCase) {
  temp_dir dir;
  fs::create_directories(dir / "Comics/Old");
  write_file(dir / "Comics/Old/qv010203.gif", "x");
  fs::create_directories(dir / "tree/sub");
  write_file(dir / "tree/a.txt", "x");
  const auto filled = [](std::string text, const std::string& directory) {
    const auto star = text.find('*');
    return star == std::string::npos ? text : text.replace(star, 1, directory);
  };
  EXPECT_EQ(platform::host_path(filled(GetParam().library, library_path(dir.path()))),
            filled(GetParam().host, dir.path()))
      << GetParam().reason;
}

INSTANTIATE_TEST_SUITE_P(
    InADirectory, HostPathMapping,
    testing::Values(
        host_case{"C:*\\COMICS\\OLD\\QV010203.GIF", "*/Comics/Old/qv010203.gif",
                  "components that exist are found ignoring case, after a drive"},
        host_case{"*\\COMICS\\OLD\\", "*/Comics/Old/", "a trailing separator stays"},
        host_case{"*\\COMICS\\NEW\\QV.GIF", "*/Comics/NEW/QV.GIF",
                  "components that do not exist keep their text"},
        host_case{"*\\TREE\\NOSUCH\\..\\A.TXT", "*/tree/a.txt", "\"..\" after a missing component"},
        host_case{"*\\TREE\\SUB\\..\\A.TXT", "*/tree/a.txt", "\"..\" after one that exists"},
        host_case{"*\\TREE\\.\\SUB\\.\\..\\A.TXT", "*/tree/a.txt", "\".\" names no component"},
        host_case{"*\\NOSUCH\\..\\TREE\\X\\Y\\..\\..\\A.TXT", "*/tree/a.txt", "several in a row"},
        host_case{"*\\TREE\\A.TXT\\..\\SUB", "*/tree/sub", "after a file: still on the text"},
        host_case{"*\\TREE\\NOSUCH\\..\\", "*/tree/", "a trailing separator after dots stays"},
        host_case{"*\\TREE\\NOSUCH\\..", "*/tree", "dots as the last component"},
        host_case{"C:\\..\\..*\\TREE\\A.TXT", "*/tree/a.txt", "dots at the root stay there"}));

INSTANTIATE_TEST_SUITE_P(
    OnTheText, HostPathMapping,
    testing::Values(
        host_case{"C:\\", "/", "the root"},
        host_case{"X:NOSUCHNAME.TXT", "NOSUCHNAME.TXT", "a drive alone: relative to it"},
        host_case{"", "", "nothing"},
        host_case{"C:\\..", "/", "at the root \"..\" stays there"},
        host_case{"C:\\..\\..\\NOSUCH\\..\\", "/", "and goes on from there"},
        host_case{"NOSUCH1\\..\\..\\NOSUCH2.TXT", "../NOSUCH2.TXT",
                  "a relative path goes above the current directory"},
        host_case{"..\\..\\NOSUCH.TXT", "../../NOSUCH.TXT", "each leading \"..\" counts"},
        host_case{".\\NOSUCHNAME.TXT", "NOSUCHNAME.TXT", "the current directory"},
        host_case{"NOSUCH\\..", ".", "nothing left: the current directory"},
        host_case{".\\", "./", "with its separator"}));

TEST(FileExists, FilesOnlyAndIgnoringCase) {
  temp_dir dir;
  fs::create_directories(dir / "Sub");
  write_file(dir / "Sub/Strip.gif", "x");
  EXPECT_TRUE(platform::file_exists(library_path(dir / "Sub/Strip.gif")));
  EXPECT_FALSE(platform::file_exists(library_path(dir / "Sub")));  // a directory
  EXPECT_FALSE(platform::file_exists(library_path(dir / "Sub/Other.gif")));
  EXPECT_FALSE(platform::file_exists(""));
  EXPECT_TRUE(platform::file_exists(library_path(dir.path()) + "\\NOSUCH\\..\\SUB\\STRIP.GIF"))
      << "dots are resolved as host_path resolves them";
}

void age(const std::string& directory);

// A directory of `count` empty files (links to one, which are quick to make)
// whose modification time lies in the past, so that any change made now
// shows in it.
void fill(const std::string& directory, int count) {
  fs::create_directories(directory);
  const std::string first = directory + "/f0.dat";
  write_file(first, "");
  for (int i = 1; i < count; ++i)
    fs::create_hard_link(first, directory + "/f" + std::to_string(i) + ".dat");
  age(directory);
}

void age(const std::string& directory) {
  fs::last_write_time(directory, fs::file_time_type::clock::now() - std::chrono::hours(24));
}

// Names of two lengths, looked for ignoring case.
struct name_shape {
  const char* directory;  // as on disk; asked for in upper case
  const char* prefix;     // of the strip names
  const char* reason;
};

void PrintTo(const name_shape& shape, std::ostream* out) { *out << shape.reason; }

// Sets the settle time for one test and the usual one after.
class DirectoryCache : public testing::TestWithParam<name_shape> {
 protected:
  void SetUp() override { platform::test_hooks::set_directory_settle_time(std::chrono::hours(1)); }
  void TearDown() override { platform::test_hooks::set_directory_settle_time(std::chrono::seconds(2)); }
  static std::uint64_t reads() { return platform::test_hooks::directory_reads(); }
  // As the program asks for a strip: the directory upper-cased, the name not.
  static std::string strip(const temp_dir& dir, const std::string& date) {
    return dir.path() + "\\" + upper(GetParam().directory) + "\\" + GetParam().prefix + date +
           ".gif";
  }
  static std::string on_disk(const temp_dir& dir, const std::string& name) {
    return dir / (std::string(GetParam().directory) + "/" + name);
  }
};

INSTANTIATE_TEST_SUITE_P(Names, DirectoryCache,
                         testing::Values(name_shape{"strips", "qv", "short names"},
                                         name_shape{"striparchive", "quorvelstrip",
                                                    "long names"}));

TEST_P(DirectoryCache, ManyTestsInALargeDirectoryReadItOnceAtMost) {
  temp_dir dir;
  fill(dir / GetParam().directory, 5000);
  for (int day = 10; day < 20; ++day)
    write_file(on_disk(dir, GetParam().prefix + std::to_string(day) + ".gif"), "x");
  write_file(on_disk(dir, upper(GetParam().prefix + std::string("20.gif"))), "x");
  fill(dir.path(), 5000);
  const std::uint64_t before = reads();
  for (int i = 0; i < 1000; ++i) {
    const int day = 10 + i % 30;
    EXPECT_EQ(platform::file_exists(strip(dir, std::to_string(day))), day <= 20) << day;
  }
  // The directory and the strips' directory, once each at most.
  EXPECT_LE(reads() - before, 2u) << GetParam().reason;
}

// A directory of the path in another spelling: in a large directory a short
// name is found by trying its spellings, in a small one by reading the names,
// and both choose alike: the name as written, else the smallest that matches.
TEST(DirectorySpelling, IsChosenAlikeInLargeAndSmallDirectoriesAndReadsNoLargeOne) {
  for (const int others : {0, 5000}) {
    temp_dir dir;
    fill(dir.path(), others);
    for (const char* spelling : {"sTrips", "strIPS", "Strips", "stripS"}) {
      fs::create_directory(dir / spelling);
      write_file(dir / (std::string(spelling) + "/x.gif"), spelling);
    }
    const std::uint64_t before = platform::test_hooks::directory_reads();
    EXPECT_EQ(platform::host_path(dir.path() + "\\STRIPS\\x.gif"), dir / "Strips/x.gif")
        << others;
    EXPECT_TRUE(platform::file_exists(dir.path() + "\\STRIPS\\x.gif"));
    EXPECT_EQ(platform::host_path(dir.path() + "\\stripS\\x.gif"), dir / "stripS/x.gif");
    EXPECT_EQ(platform::host_path(dir.path() + "\\STRIPZ\\x.gif"), dir / "STRIPZ/x.gif");
    EXPECT_EQ(platform::test_hooks::directory_reads() - before, others == 0 ? 1u : 0u) << others;

    fs::create_directory(dir / "STRIPS");
    write_file(dir / "STRIPS/x.gif", "new");  // another program's: the exact name wins now
    EXPECT_EQ(platform::host_path(dir.path() + "\\STRIPS\\x.gif"), dir / "STRIPS/x.gif")
        << others;
  }
}

TEST_P(DirectoryCache, ChangesMadeByOthersAreSeen) {
  temp_dir dir;
  fill(dir / GetParam().directory, 1000);
  const std::string asked = strip(dir, "261207");
  const std::string name = GetParam().prefix + std::string("261207.gif");
  EXPECT_FALSE(platform::file_exists(asked));

  const std::string capital = upper(name.substr(0, 1)) + name.substr(1);
  write_file(on_disk(dir, capital), "x");  // another spelling
  EXPECT_TRUE(platform::file_exists(asked));
  EXPECT_EQ(platform::host_path(asked), on_disk(dir, capital));
  write_file(on_disk(dir, upper(name)), "x");  // smaller: chosen now
  EXPECT_EQ(platform::host_path(asked), on_disk(dir, upper(name)));
  write_file(on_disk(dir, name), "x");  // the exact name wins
  EXPECT_EQ(platform::host_path(asked), on_disk(dir, name));
  fs::remove(on_disk(dir, name));
  EXPECT_EQ(platform::host_path(asked), on_disk(dir, upper(name)));

  fs::remove(on_disk(dir, upper(name)));
  fs::remove(on_disk(dir, capital));
  EXPECT_FALSE(platform::file_exists(asked));  // gone
  EXPECT_EQ(platform::host_path(asked), on_disk(dir, name));

  // Another directory in the place of the first, in the exact spelling.
  fs::rename(dir / GetParam().directory, dir / "old");
  fill(dir / upper(GetParam().directory), 10);
  write_file(dir / (upper(GetParam().directory) + "/" + name), "x");
  EXPECT_TRUE(platform::file_exists(asked));
  EXPECT_EQ(platform::host_path(asked), dir / (upper(GetParam().directory) + "/" + name));
}

TEST_P(DirectoryCache, TheProgramsOwnWritesDoNotReadTheDirectoryAgain) {
  for (const bool named : {false, true}) {
    platform::test_hooks::set_named_temporary_files(named);
    temp_dir dir;
    fill(dir / GetParam().directory, 5000);
    EXPECT_FALSE(platform::file_exists(strip(dir, "261100")));
    const std::uint64_t before = reads();
    for (int day = 10; day < 40; ++day) {
      const std::string asked = strip(dir, "2611" + std::to_string(day));
      EXPECT_FALSE(platform::file_exists(asked));
      platform::write_file_atomically(asked, "GIF89a");
      EXPECT_TRUE(platform::file_exists(asked));
    }
    // Asked for in another spelling, then written in a third.
    const std::string other = strip(dir, "261201");
    EXPECT_FALSE(platform::file_exists(other));
    platform::write_file_atomically(dir.path() + "\\" + upper(GetParam().directory) + "\\" +
                                        upper(GetParam().prefix + std::string("261201.gif")),
                                    "GIF89a");
    EXPECT_TRUE(platform::file_exists(other));
    EXPECT_EQ(platform::host_path(other),
              on_disk(dir, upper(GetParam().prefix + std::string("261201.gif"))));
    EXPECT_EQ(reads(), before) << "named temporary files: " << named;
    EXPECT_EQ(testing_support::list_dir(dir / GetParam().directory).size(), 5031u);
  }
  platform::test_hooks::set_named_temporary_files(false);
}

TEST_P(DirectoryCache, WhatIsLearntWithinTheSettleTimeIsLearntOnceMore) {
  temp_dir dir;
  fill(dir / GetParam().directory, 100);
  const auto aged = fs::last_write_time(dir / GetParam().directory);
  // The directory in its own spelling: only the strips' directory is looked into.
  const std::string late =
      dir.path() + "\\" + GetParam().directory + "\\" + upper(GetParam().prefix) + "X.GIF";
  testing_support::stepped_time time;  // the settle time counts on its clock
  platform::test_hooks::set_directory_settle_time(std::chrono::seconds(2));
  const std::uint64_t before = reads();
  EXPECT_FALSE(platform::file_exists(late));

  // A change that keeps the modification time, as one within the same tick
  // of a coarse file-system clock does.
  write_file(on_disk(dir, GetParam().prefix + std::string("x.gif")), "x");
  fs::last_write_time(dir / GetParam().directory, aged);
  time.step(std::chrono::seconds(1));
  EXPECT_FALSE(platform::file_exists(late)) << "within the settle time the listing read stands";
  time.step(std::chrono::seconds(1));
  EXPECT_TRUE(platform::file_exists(late)) << "once it has passed, the listing is read again";
  EXPECT_EQ(reads() - before, 2u);

  // Once more only: the identity is settled now.
  time.step(std::chrono::hours(1));
  EXPECT_TRUE(platform::file_exists(late));
  EXPECT_EQ(reads() - before, 2u);
}

struct listed {
  std::uint32_t attributes;
  std::uint64_t size;
};

std::map<std::string, listed> list(const std::string& pattern) {
  std::map<std::string, listed> entries;
  platform::find_data data;
  platform::find_handle handle = platform::find_first_file(pattern, data);
  if (handle == platform::invalid_find_handle) return entries;
  do entries[data.name] = {data.attributes, data.size};
  while (platform::find_next_file(handle, data));
  EXPECT_EQ(platform::get_last_error(), platform::error_no_more_files);
  platform::find_close(handle);
  return entries;
}

TEST(FindFiles, AttributesSizesAndWildcardsThatIgnoreCase) {
  temp_dir dir;
  fs::create_directories(dir / "sub");
  write_file(dir / "plain.txt", "12345");
  write_file(dir / "locked.txt", "");
  fs::permissions(dir / "locked.txt", fs::perms::owner_read | fs::perms::group_read);
  write_file(dir / "a.gif", "");
  write_file(dir / "B.GIF", "");
  const auto gifs = list(library_path(dir.path()) + "\\*.GIF");
  EXPECT_EQ(gifs.size(), 2u);
  EXPECT_EQ(gifs.count("a.gif") + gifs.count("B.GIF"), 2u);
  const auto entries = list(dir.path() + "\\*.*");
  ASSERT_EQ(entries.size(), 7u);  // with "." and ".."
  EXPECT_EQ(entries.at("sub").attributes, platform::file_attribute_directory);
  EXPECT_EQ(entries.at("plain.txt").attributes, platform::file_attribute_archive);
  EXPECT_EQ(entries.at("plain.txt").size, 5u);
  EXPECT_EQ(entries.at("locked.txt").attributes,
            platform::file_attribute_archive | platform::file_attribute_readonly);
  EXPECT_EQ(entries.count("."), 1u);
}

TEST(FindFiles, FailuresSetTheLastError) {
  temp_dir dir;
  platform::find_data data;
  EXPECT_EQ(platform::find_first_file(dir.path() + "\\missing\\*.*", data),
            platform::invalid_find_handle);
  EXPECT_EQ(platform::get_last_error(), platform::error_path_not_found);
  EXPECT_EQ(platform::find_first_file(dir.path() + "\\*.gif", data), platform::invalid_find_handle);
  EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
  EXPECT_FALSE(platform::find_next_file(platform::invalid_find_handle, data));
  EXPECT_EQ(platform::get_last_error(), platform::error_invalid_handle);
}

// The packed date of a file written at `when`, local time.
std::pair<std::uint16_t, std::uint16_t> packed_date_of(const temp_dir& dir, std::time_t when) {
  write_file(dir / "dated", "");
  const auto sys = std::chrono::system_clock::from_time_t(when);
  fs::last_write_time(dir / "dated", std::chrono::file_clock::from_sys(sys));
  platform::find_data data;
  platform::find_handle handle = platform::find_first_file(dir.path() + "\\dated", data);
  EXPECT_NE(handle, platform::invalid_find_handle);
  platform::find_close(handle);
  return {data.write_date, data.write_time};
}

TEST(FindFiles, LastWriteTimeInPackedDateFields) {
  temp_dir dir;
  const std::time_t when = 1718458517;  // mid-June 2024
  const std::tm local = *std::localtime(&when);
  const auto [date, time] = packed_date_of(dir, when);
  EXPECT_EQ(date >> 9, local.tm_year - 80);
  EXPECT_EQ((date >> 5) & 15, local.tm_mon + 1);
  EXPECT_EQ(date & 31, local.tm_mday);
  EXPECT_EQ(time >> 11, local.tm_hour);
  EXPECT_EQ((time >> 5) & 63, local.tm_min);
  EXPECT_EQ((time & 31) * 2, local.tm_sec / 2 * 2);  // two-second steps

  // Before 1980 the packed date cannot say it: the earliest one it can.
  const auto [old_date, old_time] = packed_date_of(dir, 86400 * 365);
  EXPECT_EQ(old_date, (1 << 5) | 1);
  EXPECT_EQ(old_time, 0);
}

}  // namespace

namespace {

// Lowers the file-size limit of this process for one scope, so that writes
// beyond it fail (with the signal the kernel sends for it ignored).
class file_size_limit {
 public:
  explicit file_size_limit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = previous_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~file_size_limit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previous_handler_);
  }

 private:
  rlimit previous_{};
  void (*previous_handler_)(int) = SIG_DFL;
};

// Every case runs with unnamed temporary files and again with named ones, the
// way taken where the file system has no unnamed files.
class AtomicWrite : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { platform::test_hooks::set_named_temporary_files(GetParam()); }
  void TearDown() override { platform::test_hooks::set_named_temporary_files(false); }
};

INSTANTIATE_TEST_SUITE_P(TemporaryFiles, AtomicWrite, testing::Values(false, true));

TEST_P(AtomicWrite, MakesTheWholeFileAndNothingElse) {
  temp_dir dir;
  fs::create_directory(dir / "Strips");
  const std::string bytes("GIF89a\0\x01\x02 strip", 16);
  platform::write_file_atomically(library_path(dir.path()) + "\\STRIPS\\qv261207.gif", bytes);
  EXPECT_EQ(testing_support::read_file(dir / "Strips/qv261207.gif"), bytes);
  EXPECT_EQ(testing_support::list_dir(dir / "Strips"), std::vector<std::string>{"qv261207.gif"});
  EXPECT_EQ(fs::status(dir / "Strips/qv261207.gif").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);  // the usual mode under the tests' umask 022
}

// The directories written into wait for one sync each, for the whole run.
TEST_P(AtomicWrite, EachDirectoryWrittenIntoWaitsForOneSync) {
  ASSERT_TRUE(platform::sync_written_directories());
  temp_dir dir;
  fs::create_directory(dir / "other");
  platform::write_file_atomically(dir.path() + "\\qv261207.gif", "GIF89a");
  platform::write_file_atomically(dir.path() + "\\qv261208.gif", "GIF89a");
  platform::write_file_atomically(dir.path() + "\\other\\qv261207.gif", "GIF89a");
  EXPECT_EQ(platform::test_hooks::directories_to_sync(), 2u);
  EXPECT_TRUE(platform::sync_written_directories());
  EXPECT_EQ(platform::test_hooks::directories_to_sync(), 0u);
}

TEST_P(AtomicWrite, AFileOfThatNameIsKeptAndTheWriteCountsAsDone) {
  temp_dir dir;
  write_file(dir / "qv261207.gif", "another run's strip");
  write_file(dir / "QV261208.GIF", "in another spelling");
  platform::write_file_atomically(dir.path() + "\\qv261207.gif", "GIF89a");
  platform::write_file_atomically(dir.path() + "\\qv261208.gif", "GIF89a");
  EXPECT_EQ(testing_support::read_file(dir / "qv261207.gif"), "another run's strip");
  EXPECT_EQ(testing_support::read_file(dir / "QV261208.GIF"), "in another spelling");
  EXPECT_EQ(testing_support::list_dir(dir.path()),
            (std::vector<std::string>{"QV261208.GIF", "qv261207.gif"}));
}

TEST_P(AtomicWrite, AnEntryThatIsNoFileIsReplacedUnlessItIsADirectory) {
  temp_dir dir;
  fs::create_symlink(dir / "nowhere", dir / "qv261207.gif");
  platform::write_file_atomically(dir.path() + "\\qv261207.gif", "GIF89a");
  EXPECT_FALSE(fs::is_symlink(dir / "qv261207.gif"));
  EXPECT_EQ(testing_support::read_file(dir / "qv261207.gif"), "GIF89a");

  fs::create_directory(dir / "qv261208.gif");
  EXPECT_THROW(platform::write_file_atomically(dir.path() + "\\qv261208.gif", "GIF89a"),
               platform::EFCreateError);
  EXPECT_EQ(testing_support::list_dir(dir.path()),
            (std::vector<std::string>{"qv261207.gif", "qv261208.gif"}));
  EXPECT_TRUE(fs::is_empty(dir / "qv261208.gif"));
}

// A group's names appear together once the group is full or named, each on
// a whole file; until then the names count as there and stand on nothing,
// and a name that cannot be given keeps none of the others from theirs.
TEST_P(AtomicWrite, AGroupIsNamedWhenItIsFullOrAtTheEnd) {
  temp_dir dir;
  const auto strip = [&](int day) { return dir.path() + "\\qv2612" + std::to_string(10 + day) + ".gif"; };
  const auto visible = [&] {
    auto names = testing_support::list_dir(dir.path());
    std::erase_if(names, [](const std::string& name) { return name[0] == '.'; });
    return names.size();
  };
  for (int day = 0; day + 1 < int{platform::write_group_size}; ++day)
    platform::write_file_in_group(strip(day), "GIF89a-" + std::to_string(day));
  EXPECT_EQ(visible(), 0u);
  EXPECT_TRUE(platform::file_exists(strip(0))) << "a waiting strip counts as there";
  platform::write_file_in_group(strip(31), "GIF89a-31");
  EXPECT_EQ(visible(), platform::write_group_size) << "the full group is named";
  EXPECT_EQ(testing_support::read_file(dir / "qv261241.gif"), "GIF89a-31");

  fs::create_directory(dir / "qv261242.gif");
  platform::write_file_in_group(strip(32), "in the way of a directory");
  platform::write_file_in_group(strip(33), "GIF89a-33");
  EXPECT_THROW(platform::name_written_files(), platform::EFCreateError);
  EXPECT_EQ(testing_support::read_file(dir / "qv261243.gif"), "GIF89a-33");
  EXPECT_EQ(testing_support::list_dir(dir.path()).size(), platform::write_group_size + 2)
      << "nothing hidden is left";
}

// The names that appear in a directory while it is watched, in order.
class name_watch {
 public:
  explicit name_watch(const std::string& directory) : fd_(inotify_init1(IN_NONBLOCK)) {
    inotify_add_watch(fd_, directory.c_str(), IN_CREATE | IN_MOVED_TO);
  }
  ~name_watch() { close(fd_); }
  std::vector<std::string> names() const {
    std::vector<std::string> seen;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;)
      for (char* at = buffer; at < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        seen.emplace_back(event->len ? event->name : "");
        at += sizeof(inotify_event) + event->len;
      }
    return seen;
  }

 private:
  int fd_;
};

TEST(UnnamedTemporaryFile, IsLinkedStraightToTheName) {
  temp_dir dir;
  const name_watch watch(dir.path());
  platform::write_file_atomically(dir.path() + "\\qv261207.gif", std::string(100000, 'x'));
  EXPECT_EQ(watch.names(), std::vector<std::string>{"qv261207.gif"});  // no name before it
  EXPECT_EQ(testing_support::read_file(dir / "qv261207.gif"), std::string(100000, 'x'));

  platform::write_file_atomically(dir.path() + "\\qv261207.gif", "GIF89a");  // the name is taken
  EXPECT_TRUE(watch.names().empty());
  EXPECT_EQ(testing_support::read_file(dir / "qv261207.gif"), std::string(100000, 'x'));
}

TEST(NamedTemporaryFile, IsAHiddenNameBesideTheTargetThatGoesAgain) {
  temp_dir dir;
  // What an ended process left goes; what a running one writes stays.
  const std::string running = ".qv261205.gif.part-" + std::to_string(::getppid()) + "-a1B2c3";
  for (const std::string& name : {std::string(".qv261206.gif.part-999999999-a1B2c3"), running})
    write_file(dir / name, "x");
  const name_watch watch(dir.path());
  platform::test_hooks::set_named_temporary_files(true);
  platform::write_file_atomically(dir.path() + "\\qv261207.gif", "GIF89a");
  platform::test_hooks::set_named_temporary_files(false);
  const auto names = watch.names();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].rfind(".qv261207.gif.part-", 0), 0u) << names[0];
  EXPECT_EQ(names[1], "qv261207.gif");
  EXPECT_EQ(testing_support::list_dir(dir.path()),
            (std::vector<std::string>{running, "qv261207.gif"}));
}

TEST_P(AtomicWrite, AMissingDirectoryIsACreateErrorThatLeavesNothing) {
  temp_dir dir;
  const std::string name = library_path(dir.path()) + "\\NOSUCH\\qv261207.gif";
  try {
    platform::write_file_atomically(name, "GIF89a");
    FAIL() << "no error";
  } catch (const platform::EFCreateError& error) {
    EXPECT_EQ(error.message().rfind("Cannot create file \"" + name + "\". ", 0), 0u)
        << error.message();
    EXPECT_STREQ(error.class_name(), "EFCreateError");
  }
  EXPECT_TRUE(testing_support::list_dir(dir.path()).empty());
}

TEST_P(AtomicWrite, AWriteThatFailsHalfwayKeepsTheOldFileAndLeavesNoPart) {
  temp_dir dir;
  write_file(dir / "qv261207.gif", "old strip");
  const std::string library_name = library_path(dir.path()) + "\\QV261207.GIF";
  {
    file_size_limit limit(1000);
    EXPECT_THROW(platform::write_file_atomically(library_name, std::string(5000, 'x')),
                 platform::EWriteError);
  }
  EXPECT_EQ(testing_support::read_file(dir / "qv261207.gif"), "old strip");
  EXPECT_EQ(testing_support::list_dir(dir.path()), std::vector<std::string>{"qv261207.gif"});

  {
    file_size_limit limit(1000);
    EXPECT_THROW(platform::write_file_atomically(library_path(dir.path()) + "\\NEW.GIF",
                                                 std::string(5000, 'x')),
                 platform::EWriteError);
  }
  EXPECT_EQ(testing_support::list_dir(dir.path()), std::vector<std::string>{"qv261207.gif"});
}

}  // namespace
