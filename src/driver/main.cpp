#include <new>

#include "base/atomic_file.h"
#include "base/fail.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  // A failed allocation anywhere ends the run with the program's own message.
  std::set_new_handler([] { velk::fail_out_of_memory(); });
  velk::ignore_file_size_signal();
  return velk::run(argc, argv);
}
