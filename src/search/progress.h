// A progress line for one search level on standard error, for the person watching a
// long run in a terminal: the level, the share done, the rate and the time left,
// redrawn in place at most four times a second and erased when the level ends.
//
// When standard error is not a terminal nothing is written, so scripts and the tests
// see exactly the console output they always did; the searches then pay one
// predictable branch per band, row or parent. Only the thread that offers candidates
// reports, never an OpenMP worker.
#pragma once

#include <chrono>
#include <string>

namespace velk {

class level_progress {
 public:
  // `order`: the size of the locus sets of the level; `total`: its candidates.
  level_progress(int order, double total);
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
  int order_;
  double total_;
  clock::time_point start_;
  clock::time_point next_draw_;
};

// The text of the line after `seconds` with `done` of `total` candidates counted.
std::string progress_text(int order, double done, double total, double seconds);

}  // namespace velk
