#include "base/fail.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace velk {

void fail(int status, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  fflush(stdout);
  vfprintf(stderr, fmt, args);
  va_end(args);
  exit(status);
}

}  // namespace velk
