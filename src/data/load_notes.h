// What a load has to say on the console besides its failure, in the order it happened:
// the lines of counts for standard output and the warnings for standard error. The
// readers never print; the driver prints these (print_console_notes) where the program
// has always printed them, velk-report without the counts, which are not its output.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/console.h"

namespace velk {

struct load_notes {
  std::vector<console_note> lines;
  // The load failed on a listed genotype file that cannot be opened: its message stands
  // alone, without the driver's closing line (scripts read it as it stands).
  bool unopened_file = false;

  void say(std::string text) { lines.push_back({false, std::move(text)}); }
  void warn(std::string text) { lines.push_back({true, std::move(text)}); }
};

}  // namespace velk
