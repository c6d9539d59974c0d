// What the Windows side of the platform layer does beyond the shared suites:
// the whole-file write with its temporary files, the directory enumeration's
// attributes and dates, environment lookups, and sockets that gave up.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "tests/support/run.hpp"
#include "tests/support/scripted_server.hpp"
#include "tests/support/stepped_time.hpp"
// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"
#include "tests/support/sockets.hpp"

// After the platform headers: these macros spell the same numbers.
#include <winsock2.h>
#include <windows.h>

namespace {

using testing_support::list_dir;
using testing_support::read_file;
using testing_support::temp_dir;
using testing_support::stepped_time;
using testing_support::write_file;

std::string windows_path(const temp_dir& dir, const std::string& name) {
  return dir.path() + "\\" + name;
}

TEST(WholeFileWrite, WritesTheBytesAndLeavesNoTemporaryFile) {
  temp_dir dir;
  const std::string bytes("GIF89a\0\r\n\x1a rest", 16);
  platform::write_file_atomically(windows_path(dir, "qv261207.gif"), bytes);
  EXPECT_EQ(read_file(windows_path(dir, "qv261207.gif")), bytes);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"qv261207.gif"});
}

TEST(WholeFileWrite, AStripThatAnotherRunWroteFirstStays) {
  temp_dir dir;
  write_file(windows_path(dir, "qv261207.gif"), "the other run's strip");
  platform::write_file_atomically(windows_path(dir, "qv261207.gif"), "this run's strip");
  EXPECT_EQ(read_file(windows_path(dir, "qv261207.gif")), "the other run's strip");
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"qv261207.gif"});
}

TEST(WholeFileWrite, RemovesWhatEndedRunsLeftButNotWhatARunningOneWrites) {
  temp_dir dir;
  // Process ids are multiples of 4: this one belongs to no process.
  const std::string ended = ".qv261206.gif.4294967292-0.quorvel-part";
  const std::string running =
      ".qv261205.gif." + std::to_string(GetCurrentProcessId()) + "-0.quorvel-part";
  const std::string other = "notes.quorvel-part.txt";
  for (const std::string& name : {ended, running, other}) write_file(windows_path(dir, name), "x");
  platform::write_file_atomically(windows_path(dir, "qv261207.gif"), "strip");
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{running, other, "qv261207.gif"}));
}

TEST(WholeFileWrite, AMissingDirectoryFailsAndLeavesNothing) {
  temp_dir dir;
  try {
    platform::write_file_atomically(windows_path(dir, "none\\qv261207.gif"), "strip");
    FAIL() << "no error";
  } catch (const platform::EFCreateError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("Cannot create file \"" + dir.path(), 0), 0u)
        << error.what();
  }
  EXPECT_TRUE(list_dir(dir.path()).empty());
}

// The entry of `name` as the enumeration of the directory reports it.
platform::find_data entry_of(const temp_dir& dir, const std::string& name) {
  platform::find_data data;
  platform::find_handle handle = platform::find_first_file(windows_path(dir, "*.*"), data);
  EXPECT_NE(handle, platform::invalid_find_handle);
  bool found = data.name == name;
  while (!found && platform::find_next_file(handle, data)) found = data.name == name;
  platform::find_close(handle);
  EXPECT_TRUE(found) << name;
  return data;
}

TEST(Enumeration, AttributesSizeAndThePackedLocalWriteTime) {
  temp_dir dir;
  write_file(windows_path(dir, "Strip.GIF"), "12345");
  CreateDirectoryA(windows_path(dir, "Old").c_str(), nullptr);
  write_file(windows_path(dir, "kept.gif"), "");
  SetFileAttributesA(windows_path(dir, "kept.gif").c_str(), FILE_ATTRIBUTE_READONLY);

  // 7 December 2026, 13:45:58 local time.
  SYSTEMTIME local{2026, 12, 1, 7, 13, 45, 58, 0};
  FILETIME local_time, utc;
  SystemTimeToFileTime(&local, &local_time);
  LocalFileTimeToFileTime(&local_time, &utc);
  HANDLE file = CreateFileA(windows_path(dir, "Strip.GIF").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  SetFileTime(file, nullptr, nullptr, &utc);
  CloseHandle(file);

  const platform::find_data strip = entry_of(dir, "Strip.GIF");
  EXPECT_EQ(strip.size, 5u);
  EXPECT_EQ(strip.attributes & platform::file_attribute_directory, 0u);
  EXPECT_EQ(strip.write_date, ((2026 - 1980) << 9) | (12 << 5) | 7);
  EXPECT_EQ(strip.write_time, (13 << 11) | (45 << 5) | (58 / 2));
  EXPECT_NE(entry_of(dir, "Old").attributes & platform::file_attribute_directory, 0u);
  EXPECT_NE(entry_of(dir, "kept.gif").attributes & platform::file_attribute_readonly, 0u);
  SetFileAttributesA(windows_path(dir, "kept.gif").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Enumeration, TheSystemsErrorNumbers) {
  temp_dir dir;
  platform::find_data data;
  struct row {
    std::string pattern;
    std::uint32_t error;
    const char* why;
  };
  for (const row& r : {row{windows_path(dir, "*.gif"), platform::error_file_not_found,
                           "an existing directory without a match"},
                       row{windows_path(dir, "none\\*.*"), platform::error_path_not_found,
                           "a directory that does not exist"}}) {
    EXPECT_EQ(platform::find_first_file(r.pattern, data), platform::invalid_find_handle) << r.why;
    EXPECT_EQ(platform::get_last_error(), r.error) << r.why;
  }
  write_file(windows_path(dir, "a.gif"), "x");
  platform::find_handle handle = platform::find_first_file(windows_path(dir, "*.GIF"), data);
  ASSERT_NE(handle, platform::invalid_find_handle) << "names match ignoring case";
  EXPECT_EQ(data.name, "a.gif");
  EXPECT_FALSE(platform::find_next_file(handle, data));
  EXPECT_EQ(platform::get_last_error(), platform::error_no_more_files);
  platform::find_close(handle);

  EXPECT_TRUE(platform::file_exists(windows_path(dir, "A.GIF")));
  EXPECT_FALSE(platform::file_exists(dir.path())) << "a directory is no file";
  EXPECT_FALSE(platform::file_exists(windows_path(dir, "b.gif")));
  EXPECT_EQ(platform::get_last_error(), platform::error_file_not_found);
}

TEST(Environment, NamesIgnoreCaseAndAnEmptyValueExists) {
  const std::string long_value(1000, 'v');  // beyond the first buffer
  SetEnvironmentVariableA("Quorvel_Long", long_value.c_str());
  SetEnvironmentVariableA("QUORVEL_EMPTY", "");
  std::string value = "stale";
  EXPECT_TRUE(platform::get_environment_variable("quorvel_long", value));
  EXPECT_EQ(value, long_value);
  EXPECT_TRUE(platform::get_environment_variable("quorvel_empty", value));
  EXPECT_EQ(value, "");
  value = "stale";
  EXPECT_FALSE(platform::get_environment_variable("quorvel_none", value));
  EXPECT_EQ(value, "");
  SetEnvironmentVariableA("Quorvel_Long", nullptr);
  SetEnvironmentVariableA("QUORVEL_EMPTY", nullptr);
}

TEST(Process, TheProgramsOwnFileNameIsTheSystemsFullPath) {
  const std::string name = platform::program_file_name();
  ASSERT_GT(name.size(), 3u);
  EXPECT_EQ(name.substr(1, 2), ":\\") << name;
  EXPECT_NE(name.find("platform_windows_test.exe"), std::string::npos) << name;
}

// A loopback connection whose far end the test holds as a system socket.
class raw_peer {
 public:
  raw_peer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = testing_support::loopback;
    int length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~raw_peer() {
    ::closesocket(peer_);
    ::closesocket(listener_);
  }
  std::uint16_t port() const { return port_; }
  void accept() { peer_ = ::accept(listener_, nullptr, nullptr); }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET peer_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
};

TEST(Sockets, AReceiveThatGaveUpFailsWithTheTimeLimitError) {
  stepped_time time;
  raw_peer peer;
  const platform::TSocket s = platform::socket(platform::WS_AF_INET, platform::WS_SOCK_STREAM, 0);
  const platform::TSockAddrIn record = testing_support::loopback_record(peer.port());
  ASSERT_EQ(platform::connect(s, &record, sizeof record), 0);
  peer.accept();
  const testing_support::peer_silence silent_peer;
  char byte;
  EXPECT_EQ(platform::recv(s, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(platform::WSAGetLastError(), WSAETIMEDOUT);
  EXPECT_EQ(time.elapsed(), std::chrono::seconds(60));
  platform::closesocket(s);
}

}  // namespace
