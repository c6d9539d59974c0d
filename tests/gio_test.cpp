// Unit _GIO: the file-type registry and the opening of parameter files.
#include "lib/gio.hpp"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/text_file_type.hpp"

namespace {

// A class that accepts names with a given ending and says who it is.
class tagged_file : public qlib::t_file {
 public:
  explicit tagged_file(std::string tag) : tag(std::move(tag)) {}
  std::string read_line() override { return tag; }
  bool at_end() override { return false; }
  std::string tag;
};

class tagged_class : public qlib::t_file_class {
 public:
  tagged_class(std::string tag, std::string ending) : tag_(std::move(tag)), ending_(std::move(ending)) {}
  bool accepts(std::string_view name, std::uint8_t) const override {
    return name.size() >= ending_.size() && name.substr(name.size() - ending_.size()) == ending_;
  }
  qlib::owned<qlib::t_file> create() const override { return qlib::create_object<tagged_file>(tag_); }

 private:
  std::string tag_;
  std::string ending_;
};

std::string opened_by(const std::string& name) { return qlib::open_param_file(name)->read_line(); }

TEST(FileTypes, AnEmptyRegistryFindsNothing) {
  ASSERT_NE(qlib::file_types, nullptr);
  EXPECT_EQ(qlib::file_types->count(), 0u) << "the program registers no file type";
  try {
    qlib::find_file_type("%quorvel_no_such_var%options.txt");
    FAIL() << "no error";
  } catch (const qlib::te_& error) {
    EXPECT_EQ(error.code(), 151);
    const std::string context = error.context().substr(0, error.context().find("/task_nr="));
    EXPECT_EQ(context, "/unit=_gio/proc=find_file_type/name=options.txt");
  }
}

TEST(FileTypes, HigherPriorityFirstThenRegistryOrder) {
  const tagged_class low("low", ".cfg");
  const tagged_class high("high", "x.cfg");
  const tagged_class second("second", ".cfg");
  qlib::add_file_type(low, 1);
  qlib::add_file_type(high, 9);
  qlib::add_file_type(second, 1);
  EXPECT_EQ(opened_by("ax.cfg"), "high");
  EXPECT_EQ(opened_by("a.cfg"), "low") << "same priority: the one registered first";
  qlib::remove_file_type(low);
  EXPECT_EQ(opened_by("a.cfg"), "second");

  // The object opened is set up with the name, its references expanded.
  ::setenv("QUORVEL_CFG", "settings", 1);
  const auto file = qlib::open_param_file("%quorvel_cfg%.cfg");
  ::unsetenv("QUORVEL_CFG");
  EXPECT_EQ(file->file_name, "settings.cfg");
  EXPECT_EQ(file->open_mode, 2);
  EXPECT_EQ(file->active, 1);
  qlib::remove_file_type(high);
  qlib::remove_file_type(second);
  EXPECT_EQ(qlib::file_types->count(), 0u);
}

TEST(FileTypes, AnObjectThatCannotOpenPassesItsError) {
  testing_support::text_file_registration text_files;
  EXPECT_THROW(qlib::open_param_file("no such dir/none.txt"), qlib::te_);
  EXPECT_EQ(testing_support::text_file::live(), 0);
}

}  // namespace
