#include "base/stop_signal.h"

#include <csignal>

namespace velk {

namespace {

// The one mutable value at namespace scope: a signal handler can reach nothing else,
// and may only store to a volatile sig_atomic_t.
volatile sig_atomic_t g_stop_signal = 0;

void note_stop(int signal) { g_stop_signal = signal; }

}  // namespace

void catch_stop_signals() {
  struct sigaction action = {};
  action.sa_handler = note_stop;
  sigemptyset(&action.sa_mask);
  // Every signal only asks again: a batch system may signal both mpirun and the ranks,
  // and mpirun passes its own on, so a rank can receive two at once.
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

int stop_signal() { return g_stop_signal; }

const char* stop_signal_name(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

}  // namespace velk
