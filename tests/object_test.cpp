// t_object: the set-up refusal, creation and freeing.
#include "lib/object.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/params.hpp"
#include "lib/system.hpp"

namespace {

std::vector<std::string>& events() {
  static std::vector<std::string> list;
  return list;
}

class probe : public qlib::t_object {
 public:
  explicit probe(bool fail_init = false, bool fail_done = false)
      : fail_init_(fail_init), fail_done_(fail_done) {}
  ~probe() override { events().push_back("freed"); }
  const char* class_name() const override { return "probe"; }
  void init() override {
    events().push_back("init");
    if (fail_init_) throw qlib::make_error(1, "/proc=init");
  }
  void done() override {
    events().push_back("done");
    qlib::t_object::done();
    if (fail_done_) throw qlib::make_error(2, "/proc=done");
  }

 private:
  bool fail_init_;
  bool fail_done_;
};

std::string bare_context(const qlib::te_& error) {
  return error.context().substr(0, error.context().find("/task_nr="));
}

TEST(Object, SetupRefusesEveryParameter) {
  const struct {
    qlib::owned<qlib::t_object> object;
    std::string parameter;
    std::string context;
  } rows[] = {
      {qlib::create_object<qlib::t_object>(), "x", "/class=t_object/proc=setup/par=\"x\""},
      {qlib::create_object<qlib::t_param>(), "a\"b", "/class=t_param/proc=setup/par=\"a\"\"b\""},
      {qlib::create_object<qlib::t_object>(), "", "/class=t_object/proc=setup/par=\"\""},
  };
  for (const auto& row : rows) {
    try {
      row.object->setup(row.parameter);
      ADD_FAILURE() << "no error for " << row.parameter;
    } catch (const qlib::te_& error) {
      EXPECT_EQ(error.code(), 211);
      EXPECT_EQ(bare_context(error), row.context);
    }
  }
}

TEST(Object, SetupOfAParameterTooLongToQuote) {
  auto object = qlib::create_object<qlib::t_object>();
  try {
    object->setup(std::string(254, 'x'));
    FAIL() << "no error";
  } catch (const qlib::te_& error) {
    EXPECT_EQ(error.code(), 201);
    EXPECT_EQ(bare_context(error), "") << "no unit prefix";
  }
}

TEST(Object, LifeCycle) {
  events().clear();
  {
    auto object = qlib::create_object<probe>();
    EXPECT_EQ(object->active, 0);
    object->activate();
    EXPECT_EQ(object->active, 1);
  }
  EXPECT_EQ(events(), (std::vector<std::string>{"init", "done", "freed"}));
}

TEST(Object, AFailingInitFreesTheObjectWithoutDone) {
  events().clear();
  EXPECT_THROW(qlib::create_object<probe>(true), qlib::te_);
  EXPECT_EQ(events(), (std::vector<std::string>{"init", "freed"}));
}

TEST(Object, AFailingDoneStillFreesTheObject) {
  events().clear();
  EXPECT_NO_THROW(qlib::create_object<probe>(false, true).reset());
  EXPECT_EQ(events(), (std::vector<std::string>{"init", "done", "freed"}));
}

}  // namespace
