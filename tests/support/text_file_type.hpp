// A plain text-file type for the tests (the program registers none): files
// whose name ends in ".txt", read line by line through the library's path
// mapping, so that parameter files and includes run for real.
#pragma once

#include <fstream>
#include <string>
#include <string_view>

#include "lib/gio.hpp"

namespace testing_support {

class text_file : public qlib::t_file {
 public:
  text_file();
  ~text_file() override;
  const char* class_name() const override { return "text_file"; }
  // Opens the file; error 2 "/unit=_gio/proc=open/name=" and the name when
  // it cannot be read.
  void activate() override;
  void done() override;
  std::string read_line() override;
  bool at_end() override;

  // How many text_file objects exist right now.
  static int live();

 private:
  std::ifstream in_;
};

class text_file_class : public qlib::t_file_class {
 public:
  bool accepts(std::string_view file_name, std::uint8_t priority) const override;
  qlib::owned<qlib::t_file> create() const override;
};

// Registers the text-file type for as long as it lives.
class text_file_registration {
 public:
  explicit text_file_registration(std::uint8_t priority = 5);
  ~text_file_registration();
  text_file_registration(const text_file_registration&) = delete;
  text_file_registration& operator=(const text_file_registration&) = delete;

 private:
  text_file_class class_;
};

}  // namespace testing_support
