// Task stacks and switches on POSIX: ucontext (makecontext/swapcontext), the
// C++ runtime's exception globals, errno and the socket library's last error
// saved per flow, and the
// AddressSanitizer's fiber annotations in the sanitizer build.
#include "platform/context.hpp"
#include "platform/exception_globals.hpp"
#include "platform/sockets.hpp"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_FIBER_ANNOTATIONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_FIBER_ANNOTATIONS 1
#endif
#endif
#ifdef QUORVEL_FIBER_ANNOTATIONS
#include <sanitizer/common_interface_defs.h>
#endif

namespace platform {

struct task_context::state {
  ucontext_t machine{};
  void (*entry)(void*) = nullptr;
  void* arg = nullptr;
  exception_globals exceptions{};  // a new flow starts with no exception in flight
  int error_number = 0;
  int socket_error = 0;  // WSAGetLastError, kept per thread by the socket library
  // The stack as the sanitizer knows it; for the program's own stack it is
  // learnt when the flow first leaves it.
  const void* stack_bottom = nullptr;
  std::size_t stack_size = 0;
  void* fake_stack = nullptr;
};

namespace {

// The flow that is switching away, and the one it switches to; read by the
// flow that arrives.
task_context::state* leaving = nullptr;
task_context::state* arriving = nullptr;

void depart(task_context::state* from, task_context::state& to) {
  leaving = from;
  arriving = &to;
#ifdef QUORVEL_FIBER_ANNOTATIONS
  __sanitizer_start_switch_fiber(from ? &from->fake_stack : nullptr, to.stack_bottom,
                                 to.stack_size);
#endif
}

// Runs first in a flow that continues: tells the sanitizer where the flow
// that left lives, and puts back this flow's runtime state.
void arrive(task_context::state& self) {
#ifdef QUORVEL_FIBER_ANNOTATIONS
  const void* bottom = nullptr;
  std::size_t size = 0;
  __sanitizer_finish_switch_fiber(self.fake_stack, &bottom, &size);
  if (leaving) {
    leaving->stack_bottom = bottom;
    leaving->stack_size = size;
  }
#endif
  runtime_exceptions() = self.exceptions;
  errno = self.error_number;
  WSASetLastError(self.socket_error);
}

void save_runtime(task_context::state& self) {
  self.exceptions = runtime_exceptions();
  self.error_number = errno;
  self.socket_error = WSAGetLastError();
}

void start_flow() {
  task_context::state& self = *arriving;
  arrive(self);
  self.entry(self.arg);
  std::abort();  // an entry that returns has nowhere to go
}

}  // namespace

namespace {

std::size_t page_size() {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

// The whole mapping of a stack block: the guard page, then the block rounded
// up to whole pages.
std::size_t mapping_size(std::size_t size) {
  const std::size_t page = page_size();
  return page + (size + page - 1) / page * page;
}

}  // namespace

void* allocate_stack(std::size_t size) {
  const std::size_t mapped = mapping_size(size);
  void* const base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  if (mprotect(base, page_size(), PROT_NONE) != 0) {
    munmap(base, mapped);
    return nullptr;
  }
  return static_cast<char*>(base) + page_size();
}

void free_stack(void* block, std::size_t size) {
  if (block) munmap(static_cast<char*>(block) - page_size(), mapping_size(size));
}

task_context::task_context() : state_(std::make_unique<state>()) {}
task_context::~task_context() = default;
task_context::task_context(task_context&&) noexcept = default;
task_context& task_context::operator=(task_context&&) noexcept = default;

void task_context::prepare(void* bottom, std::size_t size, void (*entry)(void*), void* arg) {
  state& self = *state_;
  self = state{};
  if (getcontext(&self.machine) != 0) std::abort();
  self.machine.uc_stack.ss_sp = bottom;
  self.machine.uc_stack.ss_size = size;
  self.machine.uc_link = nullptr;
  makecontext(&self.machine, start_flow, 0);
  self.entry = entry;
  self.arg = arg;
  self.stack_bottom = bottom;
  self.stack_size = size;
}

void switch_context(task_context& from, task_context& to) {
  task_context::state& self = *from.state_;
  if (&self == to.state_.get()) return;
  save_runtime(self);
  depart(&self, *to.state_);
  if (swapcontext(&self.machine, &to.state_->machine) != 0) std::abort();
  arrive(self);
}

void leave_context(task_context& to) {
  depart(nullptr, *to.state_);
  setcontext(&to.state_->machine);
  std::abort();
}

}  // namespace platform
