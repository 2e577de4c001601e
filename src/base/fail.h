// How a run reports problems. Every error message of the program goes through here,
// so that the exact text, the stream and the exit status are decided in one place.
#pragma once

#include <cstdio>

namespace velk {

// Exit statuses of the program.
inline constexpr int kStatusInputError = 1;   // an input file could not be read
inline constexpr int kStatusFatal = -1;       // seen by the shell as 255

// Writes a message to standard error; the caller goes on (or unwinds) itself.
void report(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes a message to `stream` and ends the process with `status`. Buffered standard
// output is flushed on the way out, so progress lines written before stay in order.
[[noreturn]] void fail_to(FILE* stream, int status, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// The common case: the message goes to standard error.
[[noreturn]] void fail(int status, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Ends the process with `status` after the reason has been reported.
[[noreturn]] void end_run(int status);

// The message every failed allocation of the store, the tables and the scratch arrays
// ends with (the lists keep their own wording).
[[noreturn]] void fail_out_of_memory();

}  // namespace velk
