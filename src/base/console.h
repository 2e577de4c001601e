// The program's console lines besides a failure: advice, progress and printf into a
// string for messages built before they are written.
//
// Standard output is flushed before anything is written to standard error, so that a
// log that holds both streams (velk 10 > log 2>&1) has its lines in the order they
// happened; and every entry point makes it flush at every line (see below).
//
// Advice goes through here, one line each on standard error: "Warning: " when the run
// goes on as before, "Hint: " right after a message, saying what to do about it.
// Scripts that compare messages drop lines with these two prefixes.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

namespace velk {

// Makes standard output flush at every line, whatever it is connected to. A log file
// or a pipe would otherwise get it in blocks, and a run killed by a batch system's time
// limit would leave an empty log. Called first in every entry point; the program
// writes few lines, so the cost is nil.
void flush_output_by_line();

// printf into a string, for messages and hints built before they are written.
std::string vformat(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));
std::string printf_string(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes a line that is no failure to standard error: the progress line, and the
// message of a run stopped by a signal. A failure is a status (base/status.h), which
// only the driver writes.
void report(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes "Warning: " and the text (one line, without its line feed) to standard error.
void warn(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes "Hint: " and the text (one line, without its line feed) to standard error,
// after the message it explains; nothing for an empty or null text.
void hint(const char* text);

// A line that a step below the driver has to say, kept for the driver to print where
// the program has always printed it.
struct console_note {
  bool warning = false;  // a warning for standard error, else a line of standard output
  std::string text;      // a line of standard output with its line feed; a warning without prefix or line feed
};

// Prints the notes in order: each warning through warn(), and with `with_output` each
// line of standard output as it stands.
void print_console_notes(const std::vector<console_note>& notes, bool with_output);

}  // namespace velk
