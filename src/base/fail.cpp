#include "base/fail.h"

#include <cstdarg>
#include <cstdlib>

namespace velk {

void report(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vfprintf(stderr, fmt, args);
  va_end(args);
}

void fail_to(FILE* stream, int status, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vfprintf(stream, fmt, args);
  va_end(args);
  exit(status);
}

void fail(int status, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vfprintf(stderr, fmt, args);
  va_end(args);
  exit(status);
}

void end_run(int status) { exit(status); }

void fail_out_of_memory() { fail(kStatusFatal, "Cannot allocate memory!\n"); }

}  // namespace velk
