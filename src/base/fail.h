// How a run reports problems. Every error message of the program goes through here,
// so that the exact text, the stream and the exit status are decided in one place.
//
// Standard output is flushed before anything is written to standard error, so that a
// log that holds both streams (velk 10 > log 2>&1) has its lines in the order they
// happened; and every entry point makes it flush at every line (see below).
//
// Advice goes through here too, one line each on standard error: "Warning: " when the
// run goes on as before, "Hint: " right after a message, saying what to do about it.
// Scripts that compare messages drop lines with these two prefixes.
#pragma once

#include <cstdio>
#include <string>

namespace velk {

// Makes standard output flush at every line, whatever it is connected to. A log file
// or a pipe would otherwise get it in blocks, and a run killed by a batch system's time
// limit would leave an empty log. Called first in every entry point; the program
// writes few lines, so the cost is nil.
void flush_output_by_line();

// Exit statuses of the program.
inline constexpr int kStatusInputError = 1;   // an input file could not be read
inline constexpr int kStatusFatal = -1;       // seen by the shell as 255
inline constexpr int kStatusUsage = 2;        // velk-names and velk-report: a wrong command line

// printf into a string, for messages and hints built before they are written.
std::string printf_string(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes a message to standard error; the caller goes on (or unwinds) itself.
void report(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes "Warning: " and the text (one line, without its line feed) to standard error.
void warn(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes "Hint: " and the text (one line, without its line feed) to standard error,
// after the message it explains; nothing for an empty or null text.
void hint(const char* text);

// Writes a message to `stream` and ends the process with `status`. Buffered standard
// output is flushed on the way out, so progress lines written before stay in order.
[[noreturn]] void fail_to(FILE* stream, int status, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// The common case: the message goes to standard error.
[[noreturn]] void fail(int status, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Ends the process with `status` after the reason has been reported.
[[noreturn]] void end_run(int status);

// A message on standard error, then the hint line that says what to do about it (none
// when `hint_text` is empty or null), then the end of the process with `status`.
[[noreturn]] void fail_with_hint(int status, const char* hint_text, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// The message every failed allocation of the store, the tables and the scratch arrays
// ends with (the lists keep their own wording).
[[noreturn]] void fail_out_of_memory();

}  // namespace velk
