// Cooperative tasks: the records at start-up, the dispatcher's order, child
// errors, freeing, the lock, per-task exception state, and the task suffix of
// error contexts.
#include "lib/tasks.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "lib/system.hpp"
#include "platform/runtime.hpp"
#include "tests/support/sockets.hpp"
#include "tests/support/stack_headroom.hpp"
// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"

namespace {

using qlib::main_task;
using qlib::task_rec;

using body_fn = std::function<void()>;

std::vector<std::string>& trace() {
  static std::vector<std::string> lines;
  return lines;
}

// Bodies live here until the test ends; a deque keeps their addresses.
std::deque<body_fn>& bodies() {
  static std::deque<body_fn> list;
  return list;
}

void run_body_fn(void* arg) { (*static_cast<body_fn*>(arg))(); }

// Creates a task as a child of the running task and links it into its ring.
task_rec* spawn(const std::string& name, body_fn body, std::int32_t task_nr = 0) {
  bodies().push_back(std::move(body));
  auto* task = new task_rec;
  qlib::create_task(task, run_body_fn, &bodies().back(), qlib::service_stack_size);
  task->task_name = name;
  task->task_nr = task_nr;
  qlib::link_task(task);
  return task;
}

// A body that notes its name and yields, `runs` times.
body_fn steps(const std::string& name, int runs) {
  return [name, runs] {
    for (int i = 0; i < runs; ++i) {
      trace().push_back(name);
      qlib::yield_task();
    }
  };
}

// The main program yields, noting "M" each time it runs, until its children
// are gone; bounded so that a fault cannot hang the test.
bool run_children(bool note = false) {
  for (int i = 0; i < 10000; ++i) {
    if (!main_task.child_cursor) return true;
    if (note) trace().push_back("M");
    qlib::yield_task();
  }
  return false;
}

// The message of the exception being handled, "" when there is none.
std::string handled_what() {
  if (!std::current_exception()) return "";
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "?";
  }
}

std::string hex8(const void* address) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address)));
  return digits;
}

// The fewest bytes at the bottom of a task's stack that still held their
// 0xFF fill when the task was freed: what the deepest task left unused.
std::size_t least_headroom = 0;

void note_headroom(task_rec* task) {
  least_headroom = std::min(least_headroom, testing_support::stack_headroom(task));
}

// Tests whose children fail leave their error in the main program's record.
void forget_main_error() {
  main_task.has_error = false;
  main_task.error_object = nullptr;
  main_task.error_address = nullptr;
}

class Tasks : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(qlib::current_task, &main_task);
    ASSERT_EQ(main_task.child_cursor, nullptr);
    trace().clear();
    least_headroom = SIZE_MAX;
    qlib::task_end_hook = note_headroom;
  }
  void TearDown() override {
    EXPECT_TRUE(run_children()) << "tasks left running";
    // Service-sized stacks (32,500 bytes) hold what the tests do, throwing and
    // catching included, with room to spare, in the sanitizer build as well.
    if (qlib::task_end_hook == note_headroom) {
      EXPECT_GT(least_headroom, 16000u);
    }
    forget_main_error();
    qlib::task_error_hook = nullptr;
    qlib::task_end_hook = nullptr;
    bodies().clear();
  }
};

TEST_F(Tasks, StartUpSetsUpTheMainProgramAndTheServiceTasks) {
  EXPECT_EQ(main_task.task_name, "Main program");
  EXPECT_EQ(main_task.task_nr, 0);
  EXPECT_EQ(main_task.next_sibling, &main_task);
  EXPECT_EQ(main_task.parent, nullptr);
  EXPECT_EQ(main_task.stack_size, 0u);
  const std::vector<std::pair<task_rec*, std::string>> services = {
      {qlib::dispatcher_task, "Dispatcher"}, {qlib::stopper_task, "Stopper"}};
  for (const auto& [task, name] : services) {
    ASSERT_NE(task, nullptr) << name;
    EXPECT_EQ(task->task_name, name);
    EXPECT_EQ(task->task_nr, 0);
    EXPECT_EQ(task->parent, &main_task) << name;
    EXPECT_EQ(task->next_sibling, task) << name << " is in no ring";
    EXPECT_EQ(task->stack_size, 32500u) << name;
    EXPECT_EQ(static_cast<char*>(task->stack_top) - static_cast<char*>(task->stack_bottom),
              static_cast<std::ptrdiff_t>(task->stack_size));
  }
}

struct stack_row {
  std::size_t requested;
  std::size_t expected;
  const char* why;
};

class StackSize : public testing::TestWithParam<stack_row> {};

TEST_P(StackSize, IsTheRequestPlus30000RoundedDownToFour) {
  const stack_row& row = GetParam();
  auto* task = new task_rec;
  qlib::create_task(task, run_body_fn, nullptr, row.requested);
  EXPECT_EQ(task->stack_size, row.expected) << row.why;
  EXPECT_EQ(task->parent, qlib::current_task);
  qlib::free_task(task);  // never linked, never run
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StackSize,
    testing::Values(stack_row{0, 30000, "nothing requested: the reserve alone"},
                    stack_row{2500, 32500, "the service tasks' request"},
                    stack_row{2503, 32500, "rounded down, not up"},
                    stack_row{2504, 32504, "already a multiple of four"}));

TEST_F(Tasks, DispatcherVisitsTheRingAndGoesDownToTheGrandchildFirst) {
  spawn("A", [] {
    spawn("A1", steps("A1", 2));  // a child of A, created while A runs
    steps("A", 3)();
  });
  spawn("B", steps("B", 2));
  ASSERT_TRUE(run_children(true));
  // Each round goes down to a leaf, runs it, then each parent up to the main
  // program; the children of one parent take turns around their ring.
  const std::vector<std::string> expected = {"M", "A", "M", "B",  "M", "A1", "A",
                                             "M", "B", "M", "A1", "A", "M"};
  EXPECT_EQ(trace(), expected);
}

TEST_F(Tasks, ATaskThatWaitsForChildrenRunsOnlyWhenTheyAreGone) {
  spawn("P", [] {
    qlib::current_task->waits_for_children = true;
    spawn("C", steps("C", 2));
    steps("P", 2)();
  });
  ASSERT_TRUE(run_children(true));
  const std::vector<std::string> expected = {"M", "P", "M", "C", "M", "C", "M", "P", "M"};
  EXPECT_EQ(trace(), expected);
}

TEST_F(Tasks, ABlockedTaskIsNeverRun) {
  task_rec* blocked = spawn("blocked", steps("blocked", 1));
  blocked->blocked = true;
  spawn("free", steps("free", 3));
  for (int i = 0; i < 20; ++i) qlib::yield_task();
  EXPECT_EQ(trace(), (std::vector<std::string>{"free", "free", "free"}));
  blocked->blocked = false;
  ASSERT_TRUE(run_children());
  EXPECT_EQ(trace().back(), "blocked");
}

struct hook_call {
  std::string task;
  int code;
};
std::vector<hook_call>& hook_calls() {
  static std::vector<hook_call> calls;
  return calls;
}

int code_of(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const qlib::te_& te) {
    return te.code();
  } catch (...) {
    return -1;
  }
}

TEST_F(Tasks, TheFirstFailingChildIsRecordedInTheParentAsAClone) {
  hook_calls().clear();
  qlib::task_error_hook = [](task_rec* task, const std::exception_ptr& error, const void*) {
    hook_calls().push_back({task->task_name, code_of(error)});
  };
  static const qlib::te_* original = nullptr;
  static const void* original_address = nullptr;
  static int parent_runs = 0;
  parent_runs = 0;
  spawn("P", [] {
    task_rec* const self = qlib::current_task;
    self->waits_for_children = true;
    spawn("F1", [] {
      try {
        throw qlib::make_error(2451, "/unit=_params");
      } catch (const qlib::te_& error) {
        original = &error;
        original_address = error.address();
        throw;
      }
    }, 1);
    spawn("F2", [] { throw qlib::make_error(2452, "/unit=_params"); }, 2);
    spawn("S", steps("S", 4));
    qlib::yield_task();  // waiting, it runs again once F1 has failed, while S still runs
    ++parent_runs;
    EXPECT_TRUE(self->has_error);
    EXPECT_NE(self->child_cursor, nullptr) << "ran before its children were gone";
    while (self->child_cursor) qlib::yield_task();
    try {
      std::rethrow_exception(self->error_object);
    } catch (const qlib::te_& recorded) {
      EXPECT_NE(&recorded, original) << "a clone, not the thrown object";
      EXPECT_EQ(recorded.code(), 2451) << "the second failure left it unchanged";
      EXPECT_EQ(recorded.context(), "/unit=_params/task_nr=1/task_name=\"F1\"");
      EXPECT_EQ(recorded.message(), "Error # 2451 " + recorded.context());
    }
    EXPECT_EQ(self->error_address, original_address);
  });
  ASSERT_TRUE(run_children());
  EXPECT_EQ(parent_runs, 1);
  EXPECT_FALSE(main_task.has_error) << "P itself ended normally";
  ASSERT_EQ(hook_calls().size(), 2u);
  EXPECT_EQ(hook_calls()[0].task, "F1");
  EXPECT_EQ(hook_calls()[0].code, 2451);
  EXPECT_EQ(hook_calls()[1].task, "F2");
  EXPECT_EQ(hook_calls()[1].code, 2451) << "the hook is given the parent's record";
}

struct failure_row {
  const char* kind;
  const char* class_name;
  const char* message;
  bool copied;
  const char* why;
};

void PrintTo(const failure_row& row, std::ostream* out) { *out << row.kind; }

class ChildFailure : public testing::TestWithParam<failure_row> {
 protected:
  void TearDown() override {
    forget_main_error();
    bodies().clear();
  }
};

TEST_P(ChildFailure, IsKeptInTheParentAsItsOwnClass) {
  const failure_row& row = GetParam();
  static const void* thrown = nullptr;
  static std::string kind;
  kind = row.kind;
  spawn("child", [] {
    try {
      if (kind == "te_") throw qlib::make_error(2024, "");
      if (kind == "EConvertError") platform::str_to_int("x1");
      throw std::runtime_error("plain");
    } catch (const std::exception& error) {
      thrown = &error;
      throw;
    }
  });
  ASSERT_TRUE(run_children());
  ASSERT_TRUE(main_task.has_error);
  try {
    std::rethrow_exception(main_task.error_object);
  } catch (const std::exception& recorded) {
    EXPECT_EQ(platform::exception_class_name(recorded), row.class_name) << row.why;
    EXPECT_EQ(std::string(recorded.what()).rfind(row.message, 0), 0u) << recorded.what();
    EXPECT_EQ(&recorded != thrown, row.copied) << row.why;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChildFailure,
    testing::Values(
        failure_row{"te_", "te_", "Error # 2024 /task_nr=0/task_name=\"child\"", true,
                    "the library's error clones itself"},
        failure_row{"EConvertError", "EConvertError", "'x1' is not", true,
                    "the runtime's errors copy themselves as their own class"},
        failure_row{"other", "std::runtime_error", "plain", false,
                    "a foreign class cannot be copied; the object is kept alive"}));

TEST_F(Tasks, ErrorsNameTheTaskThatBuildsThem) {
  static std::vector<std::string> contexts;
  contexts.clear();
  contexts.push_back(qlib::make_error(2024, "").context());
  spawn("Worker", [] { contexts.push_back(qlib::make_error(5, "/unit=_os").context()); }, 7);
  static task_rec* nameless = nullptr;
  nameless = spawn("", [] { contexts.push_back(qlib::make_error(5, "/x").context()); }, 3);
  const std::string nameless_digits = hex8(nameless);
  ASSERT_TRUE(run_children());
  ASSERT_EQ(contexts.size(), 3u);
  EXPECT_EQ(contexts[0], "/task_nr=0/task_name=\"Main program\"");
  EXPECT_EQ(contexts[1], "/unit=_os/task_nr=7/task_name=\"Worker\"");
  EXPECT_EQ(contexts[2], "/x/task_nr=3/task_name=" + nameless_digits);
  EXPECT_EQ(qlib::make_error(qlib::break_code, "/unit=_os").context(), "/unit=_os")
      << "the break code runs no hook";
}

TEST_F(Tasks, TheContextHookRunsTheHookItReplacedAfterItsOwnWork) {
  static std::string seen;
  const qlib::context_hook_fn installed = qlib::context_hook;
  qlib::unchain_task_context_hook();
  const qlib::context_hook_fn below = qlib::context_hook;
  const qlib::context_hook_fn recorder = [](int& code, std::string& context) {
    seen = context;
    code = 77;
    context += "/r";
  };
  qlib::context_hook = recorder;
  qlib::chain_task_context_hook();
  qlib::chain_task_context_hook();  // a second start-up must not chain it to itself
  const qlib::te_ error = qlib::make_error(5, "/x");
  qlib::unchain_task_context_hook();
  EXPECT_EQ(qlib::context_hook, recorder);
  qlib::context_hook = below;
  qlib::chain_task_context_hook();
  EXPECT_EQ(qlib::context_hook, installed);

  EXPECT_EQ(seen, "/x/task_nr=0/task_name=\"Main program\"");
  EXPECT_EQ(error.context(), "/x/task_nr=0/task_name=\"Main program\"/r");
  EXPECT_EQ(error.code(), 77);
}

// The tasks task_end_hook was given, in order.
std::vector<std::uintptr_t>& ended() {
  static std::vector<std::uintptr_t> list;
  return list;
}
void note_end(task_rec* task) { ended().push_back(reinterpret_cast<std::uintptr_t>(task)); }

TEST_F(Tasks, FreeingATaskMakesItsPredecessorTheNextToVisit) {
  task_rec* a = spawn("a", steps("a", 1));
  task_rec* b = spawn("b", steps("b", 1));
  task_rec* c = spawn("c", steps("c", 1));
  ASSERT_EQ(main_task.child_cursor, a);
  ASSERT_EQ(a->next_sibling, b);
  ASSERT_EQ(b->next_sibling, c);
  ASSERT_EQ(c->next_sibling, a);
  qlib::schedule_cursor = c;
  qlib::free_task(c);
  EXPECT_EQ(main_task.child_cursor, b);
  EXPECT_EQ(b->next_sibling, a);
  EXPECT_EQ(qlib::schedule_cursor, &main_task);
  qlib::free_task(a);
  EXPECT_EQ(main_task.child_cursor, b);
  EXPECT_EQ(b->next_sibling, b);
  qlib::free_task(b);  // the only child left
  EXPECT_EQ(main_task.child_cursor, nullptr);
  EXPECT_TRUE(trace().empty()) << "none ran";
}

// What leaves a task other than the body's own error (a failing hook, a halt)
// reaches the main program's top level: the main program raises it when it
// runs again.
template <class Error>
std::optional<Error> raised_in_main() {
  try {
    run_children();
  } catch (const Error& error) {
    return error;
  }
  return std::nullopt;
}

TEST_F(Tasks, AFailingTaskEndHookStillFreesTheTaskAndReachesTheMainProgram) {
  ended().clear();
  qlib::task_end_hook = [](task_rec* task) {
    note_end(task);
    throw qlib::make_error(4712, "/from=end_hook");
  };
  spawn("quick", [] { trace().push_back("quick"); });
  const auto error = raised_in_main<qlib::te_>();
  ASSERT_TRUE(error) << "nothing reached the main program";
  EXPECT_EQ(error->code(), 4712);
  EXPECT_EQ(ended().size(), 1u);
  EXPECT_EQ(main_task.child_cursor, nullptr) << "freed all the same";
  EXPECT_EQ(qlib::task_lock.load(), 0) << "the stopper let go of the lock";

  qlib::task_end_hook = nullptr;
  spawn("next", [] { trace().push_back("next"); });
  EXPECT_TRUE(run_children()) << "the stopper goes on freeing";
  EXPECT_EQ(trace(), (std::vector<std::string>{"quick", "next"}));
}

TEST_F(Tasks, AHaltInsideATaskEndsTheProgramFromTheMainProgram) {
  spawn("H", [] { qlib::halt(3); });
  const auto halt = raised_in_main<qlib::halt_request>();
  ASSERT_TRUE(halt) << "nothing reached the main program";
  EXPECT_EQ(halt->exit_code, 3);
  EXPECT_FALSE(main_task.has_error) << "a halt is no error of the task";
}

// A failing error hook reaches the main program, but not while it unwinds;
// the child's own error is recorded as before.
TEST_F(Tasks, AFailingTaskErrorHookReachesTheMainProgramOnceItHasUnwound) {
  qlib::task_error_hook = [](task_rec*, const std::exception_ptr&, const void*) {
    throw qlib::make_error(4713, "/from=hook");
  };
  spawn("F", [] { throw qlib::make_error(2024, ""); });
  struct yields_while_unwinding {
    ~yields_while_unwinding() {
      for (int i = 0; i < 5; ++i) qlib::yield_task();
    }
  };
  try {
    yields_while_unwinding guard;
    throw std::runtime_error("main");
  } catch (const std::runtime_error&) {
  }
  ASSERT_EQ(main_task.child_cursor, nullptr) << "F ended while the main program unwound";
  try {
    qlib::yield_task();
    ADD_FAILURE() << "nothing reached the main program";
  } catch (const qlib::te_& error) {
    EXPECT_EQ(error.code(), 4713);
  }
  ASSERT_TRUE(main_task.has_error);
  EXPECT_EQ(code_of(main_task.error_object), 2024);
}

TEST_F(Tasks, YieldCountCountsEveryYield) {
  const std::uint32_t before = qlib::yield_count;
  for (int i = 0; i < 5; ++i) qlib::yield_task();
  EXPECT_EQ(qlib::yield_count - before, 5u);
}

TEST_F(Tasks, ATaskThatFindsTheLockTakenYieldsUntilItIsFree) {
  spawn("H", [] {
    qlib::lock_tasks();
    trace().push_back("H locked");
    for (int i = 0; i < 3; ++i) qlib::yield_task();
    trace().push_back("H unlocked");
    qlib::unlock_tasks();
  });
  spawn("W", [] {
    trace().push_back("W tries");
    qlib::lock_tasks();
    trace().push_back("W locked");
    qlib::unlock_tasks();
  });
  ASSERT_TRUE(run_children());
  const std::vector<std::string> expected = {"H locked", "W tries", "H unlocked", "W locked"};
  EXPECT_EQ(trace(), expected);
  EXPECT_EQ(qlib::task_lock.load(), 0);
}

TEST_F(Tasks, ATaskEndingWhileAnotherHoldsTheLockIsStillFreed) {
  ended().clear();
  qlib::task_end_hook = note_end;
  spawn("H", [] {
    qlib::lock_tasks();
    for (int i = 0; i < 4; ++i) qlib::yield_task();
    qlib::unlock_tasks();
  });
  static task_rec* quick = nullptr;
  quick = spawn("quick", [] { trace().push_back("quick"); });
  const auto quick_address = reinterpret_cast<std::uintptr_t>(quick);
  ASSERT_TRUE(run_children());
  EXPECT_EQ(trace(), std::vector<std::string>{"quick"}) << "a finished task never runs again";
  ASSERT_EQ(ended().size(), 2u);
  EXPECT_EQ(ended()[1], quick_address) << "freed once the lock was free";
}

// What the running task handles, its count of exceptions in flight, errno
// and the socket library's last error, which each task sets to errno + 10000.
std::string exception_state() {
  const int error_number = errno;
  const int socket_error = platform::WSAGetLastError() - 10000;
  return handled_what() + " " + std::to_string(std::uncaught_exceptions()) + " " +
         std::to_string(error_number) + (socket_error == error_number ? "" : " socket error differs");
}

void set_errors(int number) {
  errno = number;
  platform::WSASetLastError(number + 10000);
}

TEST_F(Tasks, EachTaskKeepsItsOwnExceptionStateErrnoAndSocketError) {
  static std::vector<std::string> seen;
  seen.clear();
  spawn("A", [] {
    // Design rule: a new task starts with no exception in flight, not with
    // the one its creator is handling.
    seen.push_back("A start:" + handled_what() + " " + std::to_string(std::uncaught_exceptions()));
    set_errors(11);
    try {
      throw std::runtime_error("a");
    } catch (...) {
      qlib::yield_task();  // B stays inside a catch block, U inside unwinding
      seen.push_back("A " + exception_state());
      qlib::yield_task();
      seen.push_back("A " + exception_state());
    }
    seen.push_back("A after:" + exception_state());
  });
  spawn("B", [] {
    set_errors(22);
    try {
      throw std::runtime_error("b");
    } catch (...) {
      qlib::yield_task();
      seen.push_back("B " + exception_state());
      try {
        throw std::logic_error("b2");
      } catch (...) {
        seen.push_back("B " + exception_state());
      }
    }
    seen.push_back("B after:" + exception_state());
  });
  spawn("U", [] {
    struct yields_while_unwinding {
      ~yields_while_unwinding() {
        set_errors(44);
        qlib::yield_task();
        seen.push_back("U " + exception_state());
      }
    };
    try {
      yields_while_unwinding guard;
      throw std::runtime_error("u");
    } catch (...) {
    }
  });
  try {
    throw std::runtime_error("main");
  } catch (...) {
    set_errors(33);
    ASSERT_TRUE(run_children());
    EXPECT_EQ(exception_state(), "main 0 33");
  }
  EXPECT_EQ(handled_what(), "");
  // Round by round: A, B and U each stop inside their handling; A and B go on
  // seeing their own exception and errno; U is still unwinding its own.
  const std::vector<std::string> expected = {"A start: 0", "A a 0 11", "B b 0 22", "B b2 0 22",
                                             "B after: 0 22", "A a 0 11", "A after: 0 11",
                                             "U  1 44"};
  EXPECT_EQ(seen, expected);
}

// A job that fails stops the others where they wait (their waits fail at
// once), and its error is raised once they have ended.
TEST(TaskPool, AFailedJobStopsTheWaitsOfTheOthersAndIsRaisedOnceTheyHaveEnded) {
  testing_support::scripted_server server({testing_support::scripted_answer::silent()});
  int waited = 0;
  std::vector<std::string> order;
  qlib::task_pool pool(2);
  pool.start([&](int slot) {
    const platform::TSocket s = testing_support::connected_socket(server.port());
    char byte = 0;
    waited = platform::recv(s, &byte, 1, 0) == platform::SOCKET_ERROR ? platform::WSAGetLastError() : 0;
    platform::closesocket(s);
    order.push_back("waiting job ended in slot " + std::to_string(slot));
  });
  try {
    pool.start([&](int slot) {
      order.push_back("failing job in slot " + std::to_string(slot));
      throw std::runtime_error("no room");
    });
    pool.finish();
    ADD_FAILURE() << "the job's error was not raised";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "no room");
  }
  EXPECT_EQ(waited, platform::WSAECONNABORTED);
  const std::vector<std::string> expected = {"failing job in slot 1", "waiting job ended in slot 0"};
  EXPECT_EQ(order, expected);
}

}  // namespace
