// Unit _tasks: task records and stacks, the dispatcher and the stopper, the
// lock, and the error-context hook.
#include "lib/tasks.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "lib/system.hpp"
#include "lib/types.hpp"
#include "platform/runtime.hpp"
// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"

namespace qlib {
namespace {

constexpr const char* revision =
    "$Source: /quorvel/lib/tasks.cpp $ $Revision: 1.4 $ $State: Exp $ "
    "$Date: 2026/12/02 10:21:07 $ $Author: quorvel $";

context_hook_fn replaced_hook = nullptr;

// What must leave a task although its stack is never unwound into the
// program: an error of a hook called for it, or a halt. The main program
// raises it when it runs again, so that it reaches the program's top level.
std::exception_ptr escaped;

void pass_to_main_program() {
  if (!escaped) escaped = std::current_exception();
}

// What a task finds at the top of its stack when it first runs.
struct start_frame {
  task_proc body;
  void* arg;
};

void enter_task(void* frame) {
  const start_frame start = *static_cast<const start_frame*>(frame);
  task_entry(start.body, start.arg);
}

std::string address_digits(const void* address) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address) & 0xFFFFFFFFu));
  return digits;
}

void task_context_hook(int& code, std::string& context) {
  if (const task_rec* task = current_task) {
    std::string suffix = "/task_nr=" + std::to_string(task->task_nr) + "/task_name=";
    suffix += task->task_name.empty() ? address_digits(task) : '"' + task->task_name + '"';
    short_append(context, suffix);
  }
  if (replaced_hook) replaced_hook(code, context);
}

// An independent copy of the error being handled: a te_ clones itself, any
// other error of the runtime's family copies itself as its own class. An
// object of any other kind cannot be copied; the pointer keeps it alive.
std::exception_ptr copy_of_current_error(const void*& address) {
  const std::exception_ptr error = std::current_exception();
  address = nullptr;
  try {
    std::rethrow_exception(error);
  } catch (const platform::Exception& handled) {
    address = handled.address();
    try {
      handled.copy()->raise();
    } catch (...) {
      return std::current_exception();
    }
  } catch (...) {
  }
  return error;
}

// Runs the body and records its failure; returns with nothing of it left on
// the task's stack, which is never unwound.
void run_body(task_proc body, void* arg) {
  std::exception_ptr error;
  const void* address = nullptr;
  try {
    body(arg);
    return;
  } catch (const halt_request&) {
    pass_to_main_program();
    return;
  } catch (...) {
    error = copy_of_current_error(address);
  }
  task_rec* const self = current_task;
  task_rec* const parent = self->parent;
  if (!parent) return;
  lock_tasks();
  if (!parent->has_error) {
    parent->error_object = error;
    parent->error_address = address;
    parent->has_error = true;
  }
  unlock_tasks();
  if (!task_error_hook) return;
  try {
    task_error_hook(self, parent->error_object, parent->error_address);
  } catch (...) {
    pass_to_main_program();
  }
}

void free_service_tasks() {
  task_rec* const dispatcher = std::exchange(dispatcher_task, nullptr);
  task_rec* const stopper = std::exchange(stopper_task, nullptr);
  std::exception_ptr error;
  for (task_rec* task : {dispatcher, stopper}) {
    if (!task) continue;
    try {
      free_task(task);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace

task_rec main_task;
task_rec* current_task = nullptr;
task_rec* schedule_cursor = nullptr;
task_rec* dispatcher_task = nullptr;
task_rec* stopper_task = nullptr;
task_rec* task_to_free = nullptr;
std::atomic<std::uint8_t> task_lock{0};
std::uint32_t yield_count = 0;
task_error_hook_fn task_error_hook = nullptr;
task_end_hook_fn task_end_hook = nullptr;

void create_task(task_rec* task, task_proc body, void* arg, std::size_t stack_size) {
  *task = task_rec{};
  if (stack_size > SIZE_MAX - task_stack_reserve) throw std::bad_alloc();
  const std::size_t size = (stack_size + task_stack_reserve) & ~std::size_t{3};
  void* const block = platform::allocate_stack(size);
  if (!block) throw std::bad_alloc();
  std::memset(block, 0xFF, size);
  const auto bottom = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t frame_at =
      (bottom + size - sizeof(start_frame)) & ~std::uintptr_t{alignof(std::max_align_t) - 1};
  auto* frame = new (reinterpret_cast<void*>(frame_at)) start_frame{body, arg};
  task->context.prepare(block, frame_at - bottom, enter_task, frame);
  task->stack_block = block;
  task->stack_size = size;
  task->stack_bottom = block;
  task->stack_top = static_cast<std::byte*>(block) + size;
  task->next_sibling = task;
  task->parent = current_task;
}

void link_task(task_rec* task) {
  task_rec* const parent = task->parent;
  if (!parent) return;
  task_rec* const first = parent->child_cursor;
  if (!first) {
    task->next_sibling = task;
    parent->child_cursor = task;
    return;
  }
  task_rec* last = first;
  while (last->next_sibling != first) last = last->next_sibling;
  last->next_sibling = task;
  task->next_sibling = first;
}

void switch_task(task_rec* task) {
  task_rec* const from = current_task;
  if (task == from) return;
  current_task = task;
  platform::switch_context(from->context, task->context);
}

void yield_task() {
  if (!dispatcher_task) return;  // no tasks set up: nothing to switch to
  switch_task(dispatcher_task);
  ++yield_count;
  // Not while the main program unwinds: a second exception would end it.
  if (escaped && current_task == &main_task && std::uncaught_exceptions() == 0)
    std::rethrow_exception(std::exchange(escaped, nullptr));
}

void lock_tasks() {
  while (task_lock.exchange(1) != 0) yield_task();
}

void unlock_tasks() { task_lock.store(0); }

void free_task(task_rec* task) {
  // A task left in its ring would be switched to again; it is freed even
  // when the hook fails, and the hook's error is raised afterwards.
  std::exception_ptr hook_error;
  if (task_end_hook) {
    try {
      task_end_hook(task);
    } catch (...) {
      hook_error = std::current_exception();
    }
  }
  task_rec* before = task;
  while (before->next_sibling != task) before = before->next_sibling;
  if (task->parent) task->parent->child_cursor = before == task ? nullptr : before;
  before->next_sibling = task->next_sibling;
  if (task->stack_size != 0) platform::free_stack(task->stack_block, task->stack_size);
  if (task != &main_task) delete task;
  schedule_cursor = &main_task;
  if (hook_error) std::rethrow_exception(hook_error);
}

void task_entry(task_proc body, void* arg) {
  run_body(body, arg);
  // Hand the task to the stopper only while the lock is free: the stopper's
  // own lock_tasks then succeeds at once. Were it to find the lock taken it
  // would yield, and nothing would resume it until the next task ended.
  lock_tasks();
  task_to_free = current_task;
  unlock_tasks();
  current_task = stopper_task;
  platform::leave_context(stopper_task->context);
}

void dispatcher_loop(void*) {
  bool descend = true;
  while (schedule_cursor) {
    if (descend) {
      while (schedule_cursor->child_cursor) schedule_cursor = schedule_cursor->child_cursor;
      descend = false;
    }
    task_rec* task = schedule_cursor;
    const bool waiting = task->waits_for_children && task->child_cursor && !task->has_error;
    if (!task->blocked && !waiting) switch_task(task);
    // A task freed meanwhile has set the cursor back to the main program.
    task = schedule_cursor;
    task_rec* const parent = task->parent;
    if (!parent) {
      descend = true;
      continue;
    }
    schedule_cursor = parent;
    if (parent->child_cursor) parent->child_cursor = parent->child_cursor->next_sibling;
  }
}

void stopper_loop(void*) {
  for (;;) {
    lock_tasks();
    try {
      free_task(task_to_free);
    } catch (...) {
      pass_to_main_program();
    }
    task_to_free = nullptr;
    unlock_tasks();
    yield_task();
  }
}

// One place for a job: its task, kept from its first job to the end of the
// pool so that a stack is set up once, the job it runs, and the socket it
// waits on.
struct task_pool::slot {
  task_pool* pool = nullptr;
  int index = 0;
  job work;                  // while a job is given and has not ended
  task_rec* task = nullptr;  // blocked while it has no job
  bool waiting = false;
  platform::socket_waiter waiter;
  platform::monotonic_time deadline;
};

task_pool::task_pool(int width, std::size_t stack_size) : stack_size_(stack_size) {
  for (int i = 0; i < std::max(width, 1); ++i) {
    slots_.push_back(std::make_unique<slot>());
    slots_.back()->pool = this;
    slots_.back()->index = i;
  }
  if (slots_.size() > 1)
    replaced_wait_ = platform::replace_socket_wait(
        [this](std::int32_t s, platform::socket_wait what, platform::monotonic_time deadline) {
          return wait_in_task(s, what, deadline);
        });
}

task_pool::~task_pool() {
  if (slots_.size() <= 1) return;
  try {
    stop();
    while (busy()) step();
    // The tasks, without a job now, end.
    for (const auto& place : slots_)
      if (place->task) place->task->blocked = false;
    while (std::any_of(slots_.begin(), slots_.end(), [](const auto& place) { return place->task; }))
      yield_task();
  } catch (...) {
    // What reaches the main program here is left to its own way out.
  }
  platform::replace_socket_wait(std::move(replaced_wait_));
}

void task_pool::start(job work) {
  if (slots_.size() == 1) {
    work(0);
    return;
  }
  run_until([&] { return has_room(); });
  slot& place = **std::find_if(slots_.begin(), slots_.end(), [](const auto& free) { return !free->work; });
  place.work = std::move(work);
  if (!place.task) {
    auto task = std::make_unique<task_rec>();
    create_task(task.get(), run_slot, &place, stack_size_);
    task->task_nr = place.index + 1;
    task->task_name = "Transfer " + std::to_string(place.index + 1);
    place.task = task.release();
    link_task(place.task);
  }
  place.task->blocked = false;
  switch_task(place.task);  // it starts now, in the order the jobs were given
  if (failure_) raise_failure();
}

void task_pool::run_until(const std::function<bool()>& done) {
  while (!failure_ && !done()) step();
  if (failure_) raise_failure();
}

void task_pool::finish() {
  while (busy()) step();
  if (failure_) raise_failure();
}

void task_pool::run_slot(void* arg) {
  slot& place = *static_cast<slot*>(arg);
  task_pool& pool = *place.pool;
  while (place.work) {
    try {
      place.work(place.index);
    } catch (...) {
      if (!pool.failure_) pool.failure_ = std::current_exception();
      pool.stop();
    }
    place.work = nullptr;
    place.task->blocked = true;  // until the next job, or the end of the pool
    yield_task();
  }
  place.task = nullptr;  // the stopper frees the record and its stack
}

int task_pool::wait_in_task(std::int32_t s, platform::socket_wait what,
                            platform::monotonic_time deadline) {
  slot* self = nullptr;
  for (const auto& place : slots_)
    if (place->work && place->task == current_task) self = place.get();
  if (!self) {
    if (replaced_wait_) return replaced_wait_(s, what, deadline);
    return platform::default_socket_wait(s, what, deadline);
  }
  for (;;) {
    if (stopping_) return platform::WSAECONNABORTED;
    if (const int result = platform::system_socket_wait(s, what, std::chrono::milliseconds(0));
        result != platform::WSAETIMEDOUT)
      return result;
    if (platform::monotonic_now() >= deadline) return platform::WSAETIMEDOUT;
    self->waiter = {s, what};
    self->deadline = deadline;
    self->waiting = true;
    self->task->blocked = true;
    yield_task();
  }
}

bool task_pool::has_room() const {
  return slots_.size() == 1 ||
         std::any_of(slots_.begin(), slots_.end(), [](const auto& place) { return !place->work; });
}

bool task_pool::busy() const {
  return std::any_of(slots_.begin(), slots_.end(), [](const auto& place) { return bool(place->work); });
}

// One turn of the loop: a job that can run runs; when none can, the wait on
// every socket of the waiting ones, up to the nearest deadline.
void task_pool::step() {
  std::vector<platform::socket_waiter>& waiters = waiters_;
  std::vector<slot*>& waiting = waiting_;
  waiters.clear();
  waiting.clear();
  platform::monotonic_time nearest = platform::monotonic_time::max();
  for (const auto& place : slots_) {
    if (!place->work) continue;
    if (!place->waiting) {
      yield_task();
      return;
    }
    waiters.push_back(place->waiter);
    waiting.push_back(place.get());
    nearest = std::min(nearest, place->deadline);
  }
  if (waiters.empty()) return;
  platform::wait_for_sockets(waiters.data(), waiters.size(), nearest);
  const platform::monotonic_time now = platform::monotonic_now();
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    if (!waiters[i].ready && now < waiting[i]->deadline) continue;
    waiting[i]->waiting = false;
    waiting[i]->task->blocked = false;
  }
}

void task_pool::stop() {
  stopping_ = true;
  for (const auto& place : slots_) {
    if (!place->work) continue;
    place->waiting = false;
    place->task->blocked = false;
  }
}

// Called with no job left waiting for a turn: stops the others, lets them
// end, then raises the error that failed the first.
void task_pool::raise_failure() {
  stop();
  while (busy()) step();
  std::rethrow_exception(std::exchange(failure_, nullptr));
}

void chain_task_context_hook() {
  if (context_hook == task_context_hook) return;
  replaced_hook = context_hook;
  context_hook = task_context_hook;
}

void unchain_task_context_hook() {
  if (context_hook != task_context_hook) return;
  context_hook = replaced_hook;
  replaced_hook = nullptr;
}

void start_tasks_unit() {
  if (register_banner(revision)) return;
  task_lock.store(0);
  main_task = task_rec{};
  // The thread's own handler chain and stack bounds need no recording here:
  // an error escaping a body ends in task_entry, and the platform layer tells
  // the sanitizer about each stack as it switches.
  main_task.task_name = "Main program";
  main_task.next_sibling = &main_task;
  current_task = &main_task;
  schedule_cursor = &main_task;

  dispatcher_task = new task_rec;
  create_task(dispatcher_task, dispatcher_loop, nullptr, service_stack_size);
  dispatcher_task->task_name = "Dispatcher";
  stopper_task = new task_rec;
  create_task(stopper_task, stopper_loop, nullptr, service_stack_size);
  stopper_task->task_name = "Stopper";

  add_exit_proc(free_service_tasks);
  chain_task_context_hook();
}

// The service tasks are freed by the exit procedure registered at start-up.
void stop_tasks_unit() {}

}  // namespace qlib
