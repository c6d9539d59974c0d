// The answer cache: what it keeps under its byte bound, in which order it
// drops entries, and that it stays whole when several threads use it.
#include "server/strip_cache.hpp"

#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <thread>
#include <vector>

namespace {

using server::strip_cache;

strip_cache::bytes value_of(std::size_t size, char fill = 'v') {
  return std::make_shared<const std::string>(size, fill);
}

// Keys are one letter, so an entry costs its value's size plus one.
struct op {
  enum { store, find, contains } kind;
  const char* key;
  std::size_t size = 0;
};

struct bound_case {
  const char* reason;
  std::size_t bound;
  std::vector<op> ops;
  std::set<std::string> kept;
  std::size_t held;
};

void PrintTo(const bound_case& row, std::ostream* out) { *out << row.reason; }

class Bound : public testing::TestWithParam<bound_case> {};

TEST_P(Bound, KeepsTheMostRecentEntriesThatFit) {
  const bound_case& row = GetParam();
  strip_cache cache(row.bound);
  for (const op& o : row.ops) {
    switch (o.kind) {
      case op::store: cache.store(o.key, value_of(o.size)); break;
      case op::find: cache.find(o.key); break;
      case op::contains: cache.contains(o.key); break;
    }
  }
  for (const char* key : {"a", "b", "c", "d"}) {
    const auto found = cache.find(key);
    EXPECT_EQ(found != nullptr, row.kept.count(key) == 1) << row.reason << ": " << key;
  }
  EXPECT_EQ(cache.entries(), row.kept.size()) << row.reason;
  EXPECT_EQ(cache.bytes_held(), row.held) << row.reason;
  EXPECT_LE(cache.bytes_held(), row.bound) << row.reason;
}

INSTANTIATE_TEST_SUITE_P(
    StripCache, Bound,
    testing::Values(
        bound_case{"everything fits", 100, {{op::store, "a", 9}, {op::store, "b", 9}}, {"a", "b"}, 20},
        bound_case{"exactly at the bound", 20, {{op::store, "a", 9}, {op::store, "b", 9}}, {"a", "b"}, 20},
        bound_case{"the least recently stored goes first", 25,
                   {{op::store, "a", 9}, {op::store, "b", 9}, {op::store, "c", 9}}, {"b", "c"}, 20},
        bound_case{"a find makes an entry recent", 25,
                   {{op::store, "a", 9}, {op::store, "b", 9}, {op::find, "a"}, {op::store, "c", 9}}, {"a", "c"}, 20},
        bound_case{"asking whether it is there is no use", 25,
                   {{op::store, "a", 9}, {op::store, "b", 9}, {op::contains, "a"}, {op::store, "c", 9}}, {"b", "c"}, 20},
        bound_case{"a large entry drops as many as it needs", 30,
                   {{op::store, "a", 9}, {op::store, "b", 9}, {op::store, "c", 9}, {op::store, "d", 19}}, {"c", "d"}, 30},
        bound_case{"bytes larger than the bound are not kept and drop nothing", 30,
                   {{op::store, "a", 9}, {op::store, "b", 40}}, {"a"}, 10},
        bound_case{"storing a key again replaces its bytes and their count", 30,
                   {{op::store, "a", 9}, {op::store, "b", 9}, {op::store, "a", 4}}, {"a", "b"}, 15},
        bound_case{"replacing with bytes beyond the bound leaves no stale entry", 30,
                   {{op::store, "a", 9}, {op::store, "a", 40}}, {}, 0}));

TEST(StripCache, FindsTheBytesStoredUnderTheKeyAndCountsHits) {
  strip_cache cache(1000);
  EXPECT_EQ(cache.find("x"), nullptr);
  cache.store("x", value_of(3, 'x'));
  cache.store("y", value_of(3, 'y'));
  EXPECT_TRUE(cache.contains("x"));
  EXPECT_FALSE(cache.contains("z"));
  const auto found = cache.find("x");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(*found, "xxx");
  EXPECT_EQ(cache.find("z"), nullptr);
  EXPECT_EQ(cache.hits(), 1u);
}

TEST(StripCache, StaysWholeWhenThreadsStoreAndFindAtOnce) {
  // Each key always holds the same bytes, so any find must return exactly them.
  constexpr std::size_t bound = 10000;  // about half of the keys
  strip_cache cache(bound);
  const auto expected = [](int key) { return std::string(100 + key * 7, static_cast<char>('a' + key % 26)); };
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  std::latch start(4);  // all at once, so that their calls overlap
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      unsigned seed = 12345u + static_cast<unsigned>(t);
      for (int i = 0; i < 100000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int key = static_cast<int>((seed >> 16) % 60);
        const std::string name = "k" + std::to_string(key);
        if (const auto found = cache.find(name)) {
          if (*found != expected(key)) ++wrong[t];
          continue;
        }
        cache.store(name, std::make_shared<const std::string>(expected(key)));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  EXPECT_LE(cache.bytes_held(), bound);
  EXPECT_GT(cache.entries(), 0u);
  EXPECT_GT(cache.hits(), 0u);
}

}  // namespace
