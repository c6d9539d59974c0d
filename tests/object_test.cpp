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
    int code;
    std::string context;
  } rows[] = {
      {qlib::create_object<qlib::t_object>(), "x", 211, "/class=t_object/proc=setup/par=\"x\""},
      {qlib::create_object<qlib::t_param>(), "a\"b", 211, "/class=t_param/proc=setup/par=\"a\"\"b\""},
      {qlib::create_object<qlib::t_object>(), "", 211, "/class=t_object/proc=setup/par=\"\""},
      // Too long to quote: another code, and no unit prefix.
      {qlib::create_object<qlib::t_object>(), std::string(254, 'x'), 201, ""},
  };
  for (const auto& row : rows) {
    try {
      row.object->setup(row.parameter);
      ADD_FAILURE() << "no error for " << row.parameter;
    } catch (const qlib::te_& error) {
      EXPECT_EQ(error.code(), row.code);
      EXPECT_EQ(bare_context(error), row.context);
    }
  }
}

// init, done and freeing in order; a failing init frees without done, a
// failing done still frees.
TEST(Object, LifeCycle) {
  events().clear();
  {
    auto object = qlib::create_object<probe>();
    EXPECT_EQ(object->active, 0);
    object->activate();
    EXPECT_EQ(object->active, 1);
  }
  EXPECT_THROW(qlib::create_object<probe>(true), qlib::te_);
  EXPECT_NO_THROW(qlib::create_object<probe>(false, true).reset());
  EXPECT_EQ(events(), (std::vector<std::string>{"init", "done", "freed", "init", "freed", "init", "done",
                                                "freed"}));
}

}  // namespace
