// Exit statuses as numbers, for the entry points that return them, and the one exit
// left below the driver: the top-k list's allocation failure in the middle of a
// search, on whichever thread inserts, where no status can be returned.
#pragma once

#include "base/console.h"

namespace velk {

// Exit statuses of the program (status_code in base/status.h names the same classes).
inline constexpr int kStatusInputError = 1;   // an input file could not be read
inline constexpr int kStatusFatal = -1;       // seen by the shell as 255
inline constexpr int kStatusUsage = 2;        // velk-names and velk-report: a wrong command line

// Writes a message to standard error (standard output flushed first) and ends the
// process with `status`.
[[noreturn]] void fail(int status, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace velk
