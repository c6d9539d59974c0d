// What only tests change or read of the platform: its clocks, its time limit,
// counts of what it did, and replacements of single calls. Nothing in the
// program calls these; each takes effect at once and lasts until changed back.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/dates.hpp"
#include "platform/waits.hpp"

namespace platform::test_hooks {

// Replaces the monotonic clock of monotonic_now(); an empty function puts the
// system's back. A test replaces it together with the wait on sockets
// (replace_sockets_wait), so that a wait steps this clock rather than the
// system's.
void replace_monotonic_clock(std::function<monotonic_time()> now);

// Replaces what wait_for_sockets does after it has cleared the marks (and so
// every wait of a blocking call not otherwise replaced); an empty function
// puts the system's back. Returns the one replaced.
using sockets_wait_function =
    std::function<bool(socket_waiter* sockets, std::size_t count, monotonic_time deadline)>;
sockets_wait_function replace_sockets_wait(sockets_wait_function wait);

// The local date and time that Now() answers; an empty function puts the
// system's clock back.
void SetClock(std::function<TDateTime()> clock);

// The limit of a blocking connect, send or receive without progress (60
// seconds unless changed), for the calls made from then on.
void set_sync_time_limit(std::chrono::milliseconds limit);
// How many blocking calls have given up at the time limit.
int time_outs();
// How many receives have gone to the system.
long long system_receives();

// Replaces the send call; an empty function restores the real one. Returns
// the function replaced.
using send_function = std::function<int(std::int32_t s, const char* buf, int len, int flags)>;
send_function replace_send(send_function replacement);

// How many directories wait for sync_written_directories.
std::size_t directories_to_sync();
// Makes write_file_atomically use a named temporary file where it would use
// an unnamed one (systems that have only named ones change nothing).
void set_named_temporary_files(bool named);
// How many directory listings the path mapping has read so far.
std::uint64_t directory_reads();
// How long after first seeing a directory's modification time the mapping
// still reckons with a change that carries that same time (the coarsest
// file-time resolution; 2 seconds unless set), on the monotonic clock. What it
// learns within that time it learns once more after it.
void set_directory_settle_time(std::chrono::nanoseconds time);

}  // namespace platform::test_hooks
