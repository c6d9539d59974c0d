// quorvel itself, with the time limit of its blocking socket calls taken from
// the environment (QUORVEL_TEST_LIMIT_MS), so that end-to-end tests of silent
// and trickling servers need not wait out the real minute.
#include <chrono>
#include <cstdlib>

#include "app/driver.hpp"
#include "app/startup.hpp"

// Last: it drops the C library's byte-order macros.
#include "platform/sockets.hpp"

int main(int argc, char** argv) {
  if (const char* limit = std::getenv("QUORVEL_TEST_LIMIT_MS"))
    platform::set_sync_time_limit(std::chrono::milliseconds(std::atoi(limit)));
  return app::run_program(argc, argv, app::main_block);
}
