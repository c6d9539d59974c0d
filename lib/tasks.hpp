// Unit _tasks: cooperative tasks inside the one thread, and the task suffix of
// every error context.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/context.hpp"
#include "platform/waits.hpp"

namespace qlib {

// One task. Records are set up zero-filled; the main program's record is
// static, every other one is allocated with new and freed by free_task.
struct task_rec {
  // The saved stack position and registers, with what the runtime keeps per
  // thread while the task does not run: its caught exceptions and count of
  // exceptions in flight (the handler state and error list) and errno (the
  // I/O result). C++ finds its handlers from the stack itself, so there is no
  // separate chain of handlers to keep.
  platform::task_context context;
  void* stack_top = nullptr;     // one past the end of the task's stack
  void* stack_bottom = nullptr;  // lowest address of the task's stack
  void* stack_block = nullptr;   // the memory block of the stack
  std::size_t stack_size = 0;    // 0 for the main program, on the thread's own stack
  // An independent copy of the first error that ended a child, and its code address.
  std::exception_ptr error_object;
  const void* error_address = nullptr;
  bool has_error = false;           // later child errors are not recorded
  bool waits_for_children = false;  // runs only without children or with has_error
  bool blocked = false;             // the dispatcher never runs it
  task_rec* next_sibling = nullptr;  // ring of the parent's children; alone: itself
  task_rec* parent = nullptr;        // none for the main program
  task_rec* child_cursor = nullptr;  // the child the dispatcher visits next
  std::int32_t task_nr = 0;
  std::string task_name;  // short string; empty for a task without a name
};

using task_proc = void (*)(void* arg);
using task_error_hook_fn = void (*)(task_rec* task, const std::exception_ptr& error,
                                    const void* error_address);
using task_end_hook_fn = void (*)(task_rec* task);

// Added to every task's stack size.
inline constexpr std::size_t task_stack_reserve = 30000;
// The size the service tasks ask for.
inline constexpr std::size_t service_stack_size = 2500;

extern task_rec main_task;           // "Main program", number 0
extern task_rec* current_task;       // the running task; none before start-up
extern task_rec* schedule_cursor;    // the dispatcher's position
extern task_rec* dispatcher_task;    // "Dispatcher"
extern task_rec* stopper_task;       // "Stopper"
extern task_rec* task_to_free;       // the finished task the stopper frees next
extern std::atomic<std::uint8_t> task_lock;  // 0 when free
extern std::uint32_t yield_count;
extern task_error_hook_fn task_error_hook;  // empty in this program
extern task_end_hook_fn task_end_hook;      // empty in this program

// Sets up the record (zero-filled) and a stack of stack_size + 30,000 bytes,
// rounded down to a multiple of 4, so that the first switch to it runs
// body(arg). The new task is alone in its ring; its parent is current_task.
void create_task(task_rec* task, task_proc body, void* arg, std::size_t stack_size);

// Puts a created task into its parent's ring of children, after the last
// child (so children are visited in the order they were linked), and makes it
// the parent's child_cursor when the parent had no child.
void link_task(task_rec* task);

// Suspends the running task and resumes the given one.
void switch_task(task_rec* task);

// Switches to the dispatcher; counts the yield when the task runs again. In
// the main program it then raises what left a task other than by the body's
// own error: a halt inside a task, or an error of task_error_hook or
// task_end_hook.
void yield_task();

// The unit's lock: lock_tasks yields until it is free.
void lock_tasks();
void unlock_tasks();

// Unlinks a finished task from its parent's ring, frees its stack and its
// record, and sets schedule_cursor back to the main program. An error of
// task_end_hook is raised after the task is freed.
void free_task(task_rec* task);

// Where every task begins: runs the body, records a failure in the parent,
// and hands the task to the stopper. Never returns.
[[noreturn]] void task_entry(task_proc body, void* arg);

// The service tasks' bodies.
void dispatcher_loop(void* arg);
void stopper_loop(void* arg);

// The error-context hook: appends "/task_nr=" and the running task's number,
// "/task_name=" and its name in double quotes (or its record's address in 8
// lower-case hexadecimal digits when it has none), then calls the hook it
// replaced. Chained at start-up; unchaining puts the replaced hook back.
void chain_task_context_hook();
void unchain_task_context_hook();

// The stack a task of a task_pool asks for at least: host lookups and the
// sanitizer's frames need room.
inline constexpr std::size_t pool_stack_size = 256 * 1024;

// Up to `width` jobs at once, each in a task of its own inside the one
// thread. Where a blocking socket call of a job would wait, the job yields;
// when no job can run, the program waits on all their sockets at once up to
// the nearest deadline, so nothing spins. With width 1 a job runs at once in
// the flow that starts it, as a plain call, and no wait is changed. Every
// call below belongs to the flow that made the pool (the main program).
class task_pool {
 public:
  using job = std::function<void(int slot)>;

  // Needs the task unit started. Installs the yielding wait for its life.
  explicit task_pool(int width, std::size_t stack_size = pool_stack_size);
  // Stops the jobs still running (their waits fail at once) and lets them
  // end; puts the wait it replaced back.
  ~task_pool();
  task_pool(const task_pool&) = delete;
  task_pool& operator=(const task_pool&) = delete;

  // Runs `work` with the number of a free slot (0 to width - 1), first
  // letting the running jobs go on until one ends, and lets it go on until it
  // waits. Once a job has failed, stops the others, lets them end and raises
  // that job's error instead.
  void start(job work);
  // Lets the running jobs go on until `done` says so, then as start does
  // when a job has failed.
  void run_until(const std::function<bool()>& done);
  // Whether start would start a job at once.
  bool has_room() const;
  // Lets every running job end, then raises the first error of a job.
  void finish();
  // A job has failed: every wait of the others fails at once, and what they
  // would decide after it counts for nothing.
  bool stopping() const { return stopping_; }

 private:
  struct slot;
  static void run_slot(void* arg);
  int wait_in_task(std::int32_t s, platform::socket_wait what, platform::monotonic_time deadline);
  bool busy() const;
  void step();
  void stop();
  void raise_failure();

  std::vector<std::unique_ptr<slot>> slots_;
  // What step waits on, kept so that a turn of the loop allocates nothing.
  std::vector<platform::socket_waiter> waiters_;
  std::vector<slot*> waiting_;
  std::size_t stack_size_;
  bool stopping_ = false;
  std::exception_ptr failure_;
  platform::socket_wait_function replaced_wait_;
};

void start_tasks_unit();
void stop_tasks_unit();

}  // namespace qlib
