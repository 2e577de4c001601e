// A progress line for one search level on standard error, for the person watching a
// long run: the level, the share done, the rate and the time left.
//
// On a terminal the line is redrawn in place at most four times a second and erased
// when the level ends. Elsewhere (a script, a pipe, a file, or mpirun, which forwards
// standard error through a pipe) nothing is written, so that scripts which compare a
// run's standard error with an expected one keep working, unless VELK_PROGRESS=1 asks
// for it: then
// whole lines, one every ten seconds, which a log or mpirun keeps intact, written as
// every other line of standard error is (standard output flushed first, so that a log
// of both keeps the order of events).
// VELK_PROGRESS=0 turns the line off on a terminal too. Only the thread that offers
// candidates reports (on rank 0), never an OpenMP worker; the searches pay one
// predictable branch per band, row or parent.
#pragma once

#include <chrono>
#include <string>

namespace velk {

class level_progress {
 public:
  // `order`: the size of the locus sets of the level; `total`: its candidates;
  // `allowed`: false for a process that must stay quiet (the other ranks of a team);
  // `done_at_start`: the candidates a run that resumes the level found done, which
  // count in the share done but not in this run's rate.
  level_progress(int order, double total, bool allowed = true, double done_at_start = 0);
  // Any other work: `what` names it ("permutations"), `unit` counts it.
  level_progress(std::string what, const char* unit, double total, bool allowed = true, double done_at_start = 0);
  ~level_progress();
  level_progress(const level_progress&) = delete;
  level_progress& operator=(const level_progress&) = delete;

  // `done` of the level's candidates have been counted.
  void advance(double done) {
    if (shown_) redraw(done);
  }

 private:
  using clock = std::chrono::steady_clock;
  void redraw(double done);
  void draw(const std::string& text);

  bool shown_ = false;
  bool in_place_ = true;  // redrawn on a terminal, or whole lines
  std::string what_;
  const char* unit_;
  double total_;
  double done_at_start_;
  clock::time_point start_;
  clock::time_point next_draw_;
};

// The text of the line after `seconds` with `done` of `total` units of `what` done,
// `done_at_start` of them before this run: the rate and the time left are this run's.
std::string progress_text(const std::string& what, const char* unit, double done, double total, double seconds,
                          double done_at_start = 0);

// The same for a level of locus sets of `order` SNPs: "3 loci", counted in candidates.
inline std::string progress_text(int order, double done, double total, double seconds, double done_at_start = 0) {
  return progress_text(std::to_string(order) + " loci", "candidates", done, total, seconds, done_at_start);
}

}  // namespace velk
