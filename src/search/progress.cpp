#include "search/progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/console.h"

namespace velk {

namespace {

// A redraw every quarter second reads as live without costing the terminal anything;
// a whole line every ten seconds keeps a log readable.
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
constexpr auto kLineInterval = std::chrono::seconds(10);

// VELK_PROGRESS: "1" asks for the line wherever standard error goes, "0" for none;
// otherwise it shows on a terminal only.
int progress_wish() {
  const char* wish = getenv("VELK_PROGRESS");
  if (wish != nullptr && strcmp(wish, "1") == 0) return 1;
  if (wish != nullptr && strcmp(wish, "0") == 0) return 0;
  return -1;
}

// Three significant digits with a metric prefix: 950, 4.95 k, 12.5 M.
std::string metric(double x) {
  constexpr const char* prefixes[] = {"", " k", " M", " G", " T", " P"};
  int p = 0;
  while (x >= 999.5 && p < 5) {
    x /= 1000;
    ++p;
  }
  char text[32];
  snprintf(text, sizeof text, p == 0 ? "%.0f%s" : "%.3g%s", x, prefixes[p]);
  return text;
}

// A rate: below ten with two significant digits (0.42/s for permutations, each a whole
// search), else as a count.
std::string rate(double x) {
  if (x >= 9.995) return metric(x);
  char text[32];
  snprintf(text, sizeof text, "%.2g", x);
  return text;
}

std::string duration(double seconds) {
  const long s = std::lround(seconds);
  char text[32];
  if (s < 60)
    snprintf(text, sizeof text, "%ld s", s);
  else if (s < 3600)
    snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
  else
    snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, s / 60 % 60);
  return text;
}

}  // namespace

std::string progress_text(const std::string& what, const char* unit, double done, double total, double seconds,
                          double done_at_start) {
  char share[32];
  snprintf(share, sizeof share, "%.1f %%", total > 0 ? 100 * done / total : 100.0);
  std::string text = what + ": " + share + " of " + metric(total) + " " + unit;
  if (done > done_at_start && seconds > 0) {
    const double per_second = (done - done_at_start) / seconds;
    text += ", " + rate(per_second) + "/s, " + duration((total - done) / per_second) + " left";
  }
  return text;
}

level_progress::level_progress(int order, double total, bool allowed, double done_at_start)
    : level_progress(std::to_string(order) + " loci", "candidates", total, allowed, done_at_start) {}

level_progress::level_progress(std::string what, const char* unit, double total, bool allowed, double done_at_start)
    : what_(std::move(what)), unit_(unit), total_(total), done_at_start_(done_at_start) {
  if (!allowed) return;
  const int wish = progress_wish();
  const bool terminal = isatty(2) != 0;
  if (wish == 0 || (wish < 0 && !terminal)) return;
  shown_ = true;
  in_place_ = terminal;
  start_ = clock::now();
  next_draw_ = start_ + (in_place_ ? kRedrawInterval : kLineInterval);
  if (in_place_) draw(progress_text(what_, unit_, done_at_start_, total_, 0, done_at_start_));
}

level_progress::~level_progress() {
  if (shown_ && in_place_) report("\r\033[K");
}

void level_progress::redraw(double done) {
  const clock::time_point now = clock::now();
  if (now < next_draw_) return;
  next_draw_ = now + (in_place_ ? kRedrawInterval : kLineInterval);
  draw(progress_text(what_, unit_, done, total_, std::chrono::duration<double>(now - start_).count(), done_at_start_));
}

void level_progress::draw(const std::string& text) {
  // The carriage return redraws the line in place; erasing to the end of the line
  // clears what a longer earlier text left behind.
  if (in_place_)
    report("\r%s\033[K", text.c_str());
  else
    report("%s\n", text.c_str());
}

}  // namespace velk
