// SIGTERM and SIGINT ask a long run to stop where it can resume: a batch system sends
// SIGTERM at its time limit (and SIGKILL a little later), a user presses Ctrl-C. The
// handler only notes the signal; the search polls for it after each band (and so does
// the search of each permutation, which is then abandoned), writes a last checkpoint and
// ends with the status a shell gives a process ended by that signal (143, 130). SIGKILL
// still ends it at once.
#pragma once

namespace velk {

// Installs the handler for SIGTERM and SIGINT.
void catch_stop_signals();

// The signal that asked the run to stop, or 0.
int stop_signal();

// The exit status of a run stopped by `signal`: 128 + its number.
inline int stopped_status(int signal) { return 128 + signal; }

// "SIGTERM", "SIGINT", for messages.
const char* stop_signal_name(int signal);

}  // namespace velk
