// What a reader, a loader or a check returns up the stack: success, or the failure the
// run ends with. As htslib and plink2 return error codes to their callers, the code that
// meets a problem only says what it is (the exact message, the exit status, and what
// to do about it); the driver alone writes it, through report_failure, and ends the run
// by returning its exit status from main.
//
// Messages keep the exact wording scripts compare, their line feed included.
#pragma once

#include <string>

namespace velk {

// The classes of failure, each with its exit status.
enum class status_code {
  ok = 0,
  input_error,  // an input file could not be read or is unusable: status 1
  usage_error,  // velk-names and velk-report: a wrong command line: status 2
  fatal,        // memory, an unusable configuration, a result that cannot be written: 255
};

struct [[nodiscard]] status {
  status_code code = status_code::ok;
  std::string message;  // written as it stands on standard error, line feed included
  std::string hint;     // the "Hint: " line written after the message; empty for none

  bool ok() const { return code == status_code::ok; }
};

// Success.
inline status ok_status() { return {}; }

// A failure of class `code` with a printf-formatted message.
status failure(status_code code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// The same failure with a hint after its message.
status with_hint(status failed, std::string hint_text);

// The failure every allocation that finds no room ends with, "Cannot allocate memory!"
// (the lists keep their own wording).
status out_of_memory();

// The exit status of a failure's class (0 for success).
int exit_status(status_code code);

// The driver's one way out of a failed run: writes the message (standard output first
// flushed, so that a log holding both streams keeps the order) and its hint line, and
// returns the exit status for main to return.
int report_failure(const status& failed);

// For the two places that cannot return to main: the handler of a failed operator new,
// and a rank of an MPI job, which ends alone so that the launcher ends the others.
// Writes the failure as report_failure does and ends the process with its status.
[[noreturn]] void end_run_with(const status& failed);

}  // namespace velk
