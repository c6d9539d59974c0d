// The tests' text-file type.
#include "tests/support/text_file_type.hpp"

#include "lib/chars.hpp"
#include "platform/files.hpp"

namespace testing_support {
namespace {
int live_count = 0;
}  // namespace

text_file::text_file() { ++live_count; }
text_file::~text_file() { --live_count; }
int text_file::live() { return live_count; }

void text_file::activate() {
  in_.open(platform::host_path(file_name), std::ios::binary);
  if (!in_) throw qlib::gio_error(2, "/proc=open/name=" + file_name);
  qlib::t_file::activate();
}

void text_file::done() {
  in_.close();
  qlib::t_file::done();
}

std::string text_file::read_line() {
  std::string line;
  std::getline(in_, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool text_file::at_end() { return !in_ || in_.peek() == std::ifstream::traits_type::eof(); }

bool text_file_class::accepts(std::string_view file_name, std::uint8_t) const {
  return file_name.size() >= 4 && qlib::upper_ascii(file_name.substr(file_name.size() - 4)) == ".TXT";
}

qlib::owned<qlib::t_file> text_file_class::create() const {
  return qlib::create_object<text_file>();
}

text_file_registration::text_file_registration(std::uint8_t priority) {
  qlib::add_file_type(class_, priority);
}
text_file_registration::~text_file_registration() { qlib::remove_file_type(class_); }

}  // namespace testing_support
