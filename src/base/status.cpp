#include "base/status.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/console.h"

namespace velk {

status failure(status_code code, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = vformat(fmt, args);
  va_end(args);
  return {code, std::move(text), ""};
}

status with_hint(status failed, std::string hint_text) {
  failed.hint = std::move(hint_text);
  return failed;
}

status out_of_memory() { return failure(status_code::fatal, "Cannot allocate memory!\n"); }

int exit_status(status_code code) {
  switch (code) {
    case status_code::ok: return 0;
    case status_code::input_error: return 1;
    case status_code::usage_error: return 2;
    case status_code::fatal: return 255;
  }
  return 255;
}

int report_failure(const status& failed) {
  fflush(stdout);
  fputs(failed.message.c_str(), stderr);
  if (!failed.hint.empty()) fprintf(stderr, "Hint: %s\n", failed.hint.c_str());
  return exit_status(failed.code);
}

void end_run_with(const status& failed) { exit(report_failure(failed)); }

}  // namespace velk
