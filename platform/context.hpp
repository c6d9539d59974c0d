// Separate stacks for cooperative tasks and the switch between them, keeping
// per task what the runtime otherwise keeps per thread.
#pragma once

#include <cstddef>
#include <memory>

namespace platform {

class task_context;

// A block of `size` bytes for a task's stack, or nullptr when there is no
// memory. On POSIX a page below it faults on any access, so that a stack that
// overflows stops the program instead of overwriting other memory; on Windows
// the system gives every flow a guarded stack of its own besides.
void* allocate_stack(std::size_t size);
// Gives back a block of allocate_stack with the size it was asked for.
void free_stack(void* block, std::size_t size);

// Saves the running flow in `from` and continues `to` where it stopped, or at
// its entry. Returns when some flow switches back to `from`.
void switch_context(task_context& from, task_context& to);

// Continues `to` and abandons the running flow for good (its stack may be
// freed as soon as `to` runs).
[[noreturn]] void leave_context(task_context& to);

// A flow of execution while it does not run: its registers and stack
// position, and what the runtime keeps per thread (the stack of caught
// exceptions, the count of exceptions in flight, the error number of the
// last system call and the socket library's last error). A fresh context stands for the flow that saves into it
// first (the program's own stack) until prepare() gives it a stack of its own.
class task_context {
 public:
  task_context();
  ~task_context();
  task_context(task_context&&) noexcept;
  task_context& operator=(task_context&&) noexcept;

  // Makes the first switch to this context call entry(arg) on the stack
  // [bottom, bottom + size), with no caught exception and errno 0. entry must
  // never return; it leaves with leave_context.
  void prepare(void* bottom, std::size_t size, void (*entry)(void*), void* arg);

  struct state;

 private:
  friend void switch_context(task_context& from, task_context& to);
  friend void leave_context(task_context& to);
  std::unique_ptr<state> state_;
};

}  // namespace platform
