// quorvel: keeps a local archive of daily comic strips.
#include "app/driver.hpp"
#include "app/startup.hpp"

int main(int argc, char** argv) { return app::run_program(argc, argv, app::main_block); }
