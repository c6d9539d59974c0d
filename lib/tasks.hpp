// Unit _tasks: cooperative tasks inside the one thread, and the task suffix of
// every error context.
#pragma once

namespace qlib {

void start_tasks_unit();
void stop_tasks_unit();

}  // namespace qlib
