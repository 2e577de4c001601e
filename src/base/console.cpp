#include "base/console.h"

#include <cstdarg>
#include <cstdio>

namespace velk {

namespace {

// Every line for standard error starts here: what standard output holds goes first.
void write_error(const char* prefix, const char* fmt, va_list args) {
  fflush(stdout);
  fputs(prefix, stderr);
  vfprintf(stderr, fmt, args);
}

}  // namespace

std::string vformat(const char* fmt, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = vsnprintf(nullptr, 0, fmt, args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) vsnprintf(text.data(), text.size() + 1, fmt, again);
  va_end(again);
  return text;
}

std::string printf_string(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = vformat(fmt, args);
  va_end(args);
  return text;
}

void flush_output_by_line() { setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

void report(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_error("", fmt, args);
  va_end(args);
}

void warn(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  write_error("Warning: ", fmt, args);
  va_end(args);
  fputc('\n', stderr);
}

void hint(const char* text) {
  if (text == nullptr || *text == '\0') return;
  fflush(stdout);
  fprintf(stderr, "Hint: %s\n", text);
}

void print_console_notes(const std::vector<console_note>& notes, bool with_output) {
  for (const console_note& note : notes) {
    if (note.warning)
      warn("%s", note.text.c_str());
    else if (with_output)
      fputs(note.text.c_str(), stdout);
  }
}

}  // namespace velk
