// Unit _LISTS: the owning linked list.
#include "lib/lists.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int live = 0;

class item : public qlib::tle_ {
 public:
  explicit item(int value = 0) : value(value) { ++live; }
  ~item() override { --live; }
  int value;
};

std::vector<int> values(const qlib::tl_& list) {
  std::vector<int> found;
  for (qlib::tle_* element = list.first(); element; element = element->next())
    found.push_back(static_cast<item*>(element)->value);
  return found;
}

TEST(Lists, AppendRemoveAndFreeButNeverRemoveAForeignElement) {
  live = 0;
  {
    auto list = qlib::create_object<qlib::tl_>();
    for (int i = 1; i <= 3; ++i) list->append(qlib::create_object<item>(i));
    EXPECT_EQ(values(*list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(list->count(), 3u);

    auto middle = list->remove(*list->first()->next());
    EXPECT_EQ(values(*list), (std::vector<int>{1, 3}));
    EXPECT_EQ(middle->list(), nullptr);
    EXPECT_EQ(list->last()->prev(), list->first());

    list->append(std::move(middle));
    EXPECT_EQ(values(*list), (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(live, 3);

    auto other = qlib::create_object<qlib::tl_>();
    try {
      other->remove(*list->first());
      ADD_FAILURE() << "removing a foreign element raised no error";
    } catch (const qlib::te_& error) {
      EXPECT_EQ(error.code(), 2025);
      EXPECT_EQ(error.context().rfind("/unit=_lists", 0), 0u);
    }
    EXPECT_EQ(list->count(), 3u);
  }
  EXPECT_EQ(live, 0) << "the list frees its elements";
}

}  // namespace
