#include "base/fail.h"

#include <cstdarg>
#include <cstdlib>

namespace velk {

namespace {

// Every line for standard error starts here: what standard output holds goes first.
void write_error(FILE* stream, const char* prefix, const char* fmt, va_list args) {
  fflush(stdout);
  fputs(prefix, stream);
  vfprintf(stream, fmt, args);
}

}  // namespace

std::string printf_string(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

void flush_output_by_line() { setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

void report(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_error(stderr, "", fmt, args);
  va_end(args);
}

void warn(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_error(stderr, "Warning: ", fmt, args);
  va_end(args);
  fputc('\n', stderr);
}

void hint(const char* text) {
  if (text == nullptr || *text == '\0') return;
  fflush(stdout);
  fprintf(stderr, "Hint: %s\n", text);
}

void fail_to(FILE* stream, int status, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_error(stream, "", fmt, args);
  va_end(args);
  exit(status);
}

void fail(int status, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_error(stderr, "", fmt, args);
  va_end(args);
  exit(status);
}

void end_run(int status) { exit(status); }

void fail_with_hint(int status, const char* hint_text, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_error(stderr, "", fmt, args);
  va_end(args);
  hint(hint_text);
  exit(status);
}

void fail_out_of_memory() { fail(kStatusFatal, "Cannot allocate memory!\n"); }

}  // namespace velk
