#include <new>

#include "driver/fail.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  // A failed allocation anywhere ends the run with the program's own message.
  std::set_new_handler([] { velk::fail_out_of_memory(); });
  return velk::run(argc, argv);
}
