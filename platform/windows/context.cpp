// Task stacks and switches on Windows: a fiber per flow (the system keeps its
// stack, its registers and its exception records), with the C++ runtime's
// exception globals, errno and the last-error value saved per flow.
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/context.hpp"
#include "platform/exception_globals.hpp"
#include "platform/windows/windows_api.hpp"

namespace platform {

struct task_context::state {
  void* fiber = nullptr;
  bool owns_fiber = false;  // made by prepare; the thread's own fiber is never deleted
  void (*entry)(void*) = nullptr;
  void* arg = nullptr;
  exception_globals exceptions{};
  int error_number = 0;
  DWORD last_error = 0;

  state() = default;
  state(const state&) = delete;
  state& operator=(const state&) = delete;
  ~state() {
    if (owns_fiber && fiber) DeleteFiber(fiber);
  }
};

namespace {

// Fibers need a stack of their own from the system; the block a task is
// given stays its record's, and the fiber's stack is at least this large,
// since the system's unwinder needs more room than the task's reckoning.
constexpr std::size_t least_fiber_stack = 256 * 1024;

// The flow that continues reads its own state from here when it first runs.
task_context::state* arriving = nullptr;

void arrive(task_context::state& self) {
  runtime_exceptions() = self.exceptions;
  errno = self.error_number;
  SetLastError(self.last_error);
}

void save_runtime(task_context::state& self) {
  self.exceptions = runtime_exceptions();
  self.error_number = errno;
  self.last_error = GetLastError();
}

void WINAPI start_flow(void*) {
  task_context::state& self = *arriving;
  arrive(self);
  self.entry(self.arg);
  std::abort();  // an entry that returns has nowhere to go
}

// GCC 12 takes the segment read inside GetCurrentFiber for an access beyond
// an array of size 0; kept out of line so that the warning stays here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
__attribute__((noinline)) void* current_fiber() { return GetCurrentFiber(); }
#pragma GCC diagnostic pop

// The fiber of the running flow; the thread becomes a fiber the first time.
void* running_fiber() {
  if (IsThreadAFiber()) return current_fiber();
  void* fiber = ConvertThreadToFiber(nullptr);
  if (!fiber) std::abort();
  return fiber;
}

void resume(task_context::state& to) {
  arriving = &to;
  SwitchToFiber(to.fiber);
}

}  // namespace

void* allocate_stack(std::size_t size) { return std::malloc(size); }
void free_stack(void* block, std::size_t) { std::free(block); }

task_context::task_context() : state_(std::make_unique<state>()) {}
task_context::~task_context() = default;
task_context::task_context(task_context&&) noexcept = default;
task_context& task_context::operator=(task_context&&) noexcept = default;

void task_context::prepare(void*, std::size_t size, void (*entry)(void*), void* arg) {
  state_ = std::make_unique<state>();
  state& self = *state_;
  running_fiber();  // a fiber can only be switched to from a fiber
  self.fiber = CreateFiberEx(std::min(size, least_fiber_stack), std::max(size, least_fiber_stack),
                             0, start_flow, nullptr);
  if (!self.fiber) std::abort();
  self.owns_fiber = true;
  self.entry = entry;
  self.arg = arg;
}

void switch_context(task_context& from, task_context& to) {
  task_context::state& self = *from.state_;
  if (&self == to.state_.get()) return;
  if (!self.fiber) self.fiber = running_fiber();
  save_runtime(self);
  resume(*to.state_);
  arrive(self);
}

void leave_context(task_context& to) {
  resume(*to.state_);
  std::abort();  // nothing switches back to an abandoned flow
}

}  // namespace platform
