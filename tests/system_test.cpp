// Error objects, hooks, the break code and the banner line.
#include "lib/system.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "lib/gio.hpp"
#include "lib/math.hpp"
#include "lib/os.hpp"
#include "lib/params.hpp"
#include "lib/convert.hpp"
#include "lib/lists.hpp"

namespace {

// Takes the hooks out for one test and puts back what was there.
class SystemTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_context_ = qlib::context_hook;
    saved_object_ = qlib::object_hook;
    saved_report_ = qlib::report_hook;
    qlib::context_hook = nullptr;
    qlib::object_hook = nullptr;
    qlib::report_hook = nullptr;
    calls().clear();
  }
  void TearDown() override {
    qlib::context_hook = saved_context_;
    qlib::object_hook = saved_object_;
    qlib::report_hook = saved_report_;
  }
  static std::vector<std::string>& calls() {
    static std::vector<std::string> list;
    return list;
  }

 private:
  qlib::context_hook_fn saved_context_;
  qlib::object_hook_fn saved_object_;
  qlib::report_hook_fn saved_report_;
};

TEST_F(SystemTest, MessageIsCodeAndContext) {
  const struct {
    int code;
    const char* context;
    const char* message;
    const char* why;
  } rows[] = {
      {2024, "", "Error # 2024 ", "no context"},
      {151, "/unit=_gio/proc=x", "Error # 151 /unit=_gio/proc=x", "a context"},
      {0, "/unit=_os", "Error #  /unit=_os", "code zero has no digits"},
      {8021, "/unit=_os", "BREAK /unit=_os", "the break code says so"},
  };
  for (const auto& row : rows) {
    const qlib::te_ error = qlib::make_error(row.code, row.context);
    EXPECT_EQ(error.message(), row.message) << row.why;
    EXPECT_EQ(error.code(), row.code) << row.why;
    EXPECT_EQ(error.help_context(), row.code) << row.why;
    EXPECT_EQ(error.context(), row.context) << row.why;
    EXPECT_STREQ(error.class_name(), "te_") << row.why;
  }
}

TEST_F(SystemTest, HooksRunInOrderAndContextHookMayChangeCodeAndContext) {
  qlib::context_hook = [](int& code, std::string& context) {
    calls().push_back("context " + std::to_string(code) + " " + context);
    code = 99;
    context += "/task_nr=0";
  };
  qlib::object_hook = [](qlib::te_& error) {
    calls().push_back("object " + std::to_string(error.code()) + " " + error.message());
  };
  qlib::report_hook = [](int code, const std::string& context) {
    calls().push_back("report " + std::to_string(code) + " " + context);
  };
  const qlib::te_ error = qlib::make_error(5, "/unit=_os");
  EXPECT_EQ(error.code(), 99);
  EXPECT_EQ(error.context(), "/unit=_os/task_nr=0");
  EXPECT_EQ(error.message(), "Error # 99 /unit=_os/task_nr=0");
  const std::vector<std::string> expected = {
      "context 5 /unit=_os",
      "object 99 Error # 99 /unit=_os/task_nr=0",
      "report 5 /unit=_os",  // the context as the caller gave it
  };
  EXPECT_EQ(calls(), expected);

  calls().clear();
  EXPECT_EQ(qlib::make_error(qlib::break_code, "/unit=_os").code(), 8021);
  EXPECT_TRUE(calls().empty()) << "the break code skips the hooks";
}

TEST_F(SystemTest, ContextIsCutTo255) {
  const std::string long_context(300, 'x');
  qlib::context_hook = [](int&, std::string& context) { context += "/more"; };
  const qlib::te_ error = qlib::make_error(1, long_context);
  EXPECT_EQ(error.context(), std::string(255, 'x'));
  const qlib::te_ break_error = qlib::make_error(qlib::break_code, long_context);
  EXPECT_EQ(break_error.context(), std::string(255, 'x')) << "the break code's context too";
  EXPECT_EQ(error.message(), "Error # 1 " + std::string(255, 'x'));
  EXPECT_EQ(break_error.message(), "BREAK " + std::string(255, 'x')) << "no message is cut";
}

TEST_F(SystemTest, CloneOutlivesTheOriginal) {
  std::unique_ptr<qlib::te_> copy;
  {
    auto original = std::make_unique<qlib::te_>(qlib::make_error(2455, "/class=t_param"));
    copy = original->clone();
  }
  EXPECT_EQ(copy->code(), 2455);
  EXPECT_EQ(copy->context(), "/class=t_param");
  EXPECT_EQ(copy->message(), "Error # 2455 /class=t_param");
  EXPECT_STREQ(copy->class_name(), "te_");
}

// Each raises through one error helper; not inlined, so that each is a
// function of its own whose code the error's address must fall in.
#define RAISER(name, expression) \
  [[noreturn]] __attribute__((noinline)) void name() { throw expression; }
RAISER(raise_plain, qlib::make_error(1, ""))
RAISER(raise_class, qlib::make_class_error("t_x", 1, ""))
RAISER(raise_os, qlib::os_error(1, ""))
RAISER(raise_params, qlib::params_error(1, ""))
RAISER(raise_gio, qlib::gio_error(1, "/proc=find_file_type/name=a"))
RAISER(raise_math, qlib::math_error(1, ""))
RAISER(raise_convert, qlib::convert_error(1, ""))
RAISER(raise_lists, qlib::lists_error(1, ""))
RAISER(raise_break, qlib::make_error(qlib::break_code, ""))
#undef RAISER

// Each helper puts its class or unit before the context, and the error's
// code address is that of the raising code, not of the helper.
TEST_F(SystemTest, HelpersPrefixTheContextAndGiveTheRaisingCodesAddress) {
  const struct {
    void (*raise)();
    const char* helper;
    const char* context;
  } rows[] = {{raise_plain, "make_error", ""},
              {raise_class, "make_class_error", "/class=t_x"},
              {raise_os, "os_error", "/unit=_os"},
              {raise_params, "params_error", "/unit=_params"},
              {raise_gio, "gio_error", "/unit=_gio/proc=find_file_type/name=a"},
              {raise_math, "math_error", "/unit=_math"},
              {raise_convert, "convert_error", "/unit=_convert"},
              {raise_lists, "lists_error", "/unit=_lists"},
              {raise_break, "make_error with the break code", ""}};
  for (const auto& row : rows) {
    const auto* start = reinterpret_cast<const char*>(row.raise);
    try {
      row.raise();
    } catch (const qlib::te_& error) {
      const auto* address = static_cast<const char*>(error.address());
      // A function this small ends well within 4 KiB of its start.
      EXPECT_TRUE(address > start && address < start + 4096) << row.helper;
      EXPECT_EQ(error.context(), row.context) << row.helper;
    }
  }
}

TEST_F(SystemTest, LibraryDivisionByZeroIsError200) {
  EXPECT_EQ(qlib::unsigned_div(7, 2), 3u);
  try {
    qlib::unsigned_div(1, 0);
    FAIL() << "no error";
  } catch (const qlib::te_& error) {
    EXPECT_EQ(error.code(), 200);
    EXPECT_EQ(error.context(), "/unit=_math");
  }
}

TEST_F(SystemTest, CurrentErrorCodeSeesOnlyTheHandledTe) {
  EXPECT_EQ(qlib::current_error_code(), 0);
  try {
    throw qlib::make_error(2270, "/unit=_os");
  } catch (...) {
    EXPECT_EQ(qlib::current_error_code(), 2270);
  }
  try {
    throw std::runtime_error("other");
  } catch (...) {
    EXPECT_EQ(qlib::current_error_code(), 0);
  }
  EXPECT_EQ(qlib::current_error_code(), 0);
}

TEST(BannerLine, FieldsArePaddedOrCutTo40And10And10) {
  const std::string line = qlib::banner_line(
      "$Source: /quorvel/lib/system.cpp $ $Revision: 2.3 $ $State: Exp $ "
      "$Date: 2026/12/01 14:05:12 $ $Author: quorvel $");
  ASSERT_EQ(line.size(), 60u);
  EXPECT_EQ(line.substr(0, 40), std::string("/quorvel/lib/system.cpp") + std::string(17, ' '));
  EXPECT_EQ(line.substr(40, 10), "2.3       ");
  EXPECT_EQ(line.substr(50, 10), "2026/12/01");  // the time is cut away
}

TEST(BannerLine, MissingKeyOrClosingDollarGivesAnEmptyField) {
  const std::string no_revision = qlib::banner_line("$Source: a $ $Date: 2026/01/02 $");
  EXPECT_EQ(no_revision, "a " + std::string(38, ' ') + std::string(10, ' ') + "2026/01/02");
  const std::string unclosed = qlib::banner_line("$Source: abc");
  EXPECT_EQ(unclosed, std::string(60, ' '));
  const std::string long_source = qlib::banner_line("$Source: " + std::string(50, 's') + "$");
  EXPECT_EQ(long_source, std::string(40, 's') + std::string(20, ' '));
}

TEST(Banner, NotInBannerModeInTheTests) {
  EXPECT_FALSE(qlib::banner_mode());
  EXPECT_FALSE(qlib::register_banner("$Source: x $"));
}

}  // namespace
